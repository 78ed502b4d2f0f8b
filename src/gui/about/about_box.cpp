#include "gui/about/about_box.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include "core/platform/text_codec.h"
#include "core/platform/version_info.h"
#include "gui/about/ht_label.h"
#include "gui/app/form_font.h"

// Resources of a static library are registered only when asked for by name.
static void InitAboutResources() {
  Q_INIT_RESOURCE(about);
}

namespace pellora {

namespace {

const char kProductVersionPath[] = "\\StringFileInfo\\041103A4\\ProductVersion";
const char kLegalCopyrightPath[] = "\\StringFileInfo\\041103A4\\LegalCopyright";

// "url.dat" is 8-bit text of unknown encoding: UTF-8 when it is valid UTF-8, else
// code page 932, the encoding of files written by installations on the original platform.
QString TextFromFile(const std::string& bytes) {
  return QString::fromStdString(TextFromBytes(bytes));
}

QFont PixelFont(int pixels) {
  QFont font = FormFont();
  font.setPixelSize(pixels);
  return font;
}

QLabel* NewLabel(const QString& caption, QWidget* parent, int x, int y) {
  auto* label = new QLabel(caption, parent);
  label->setTextFormat(Qt::PlainText);
  label->move(x, y);
  label->adjustSize();
  return label;
}

THTLabel* NewLink(QWidget* parent, int x, int y) {
  auto* link = new THTLabel(parent);
  QFont font = link->font();
  font.setUnderline(false);
  link->setFont(font);
  link->move(x, y);
  return link;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent, const TSupportInfo& support) : QDialog(parent) {
  InitAboutResources();
  setWindowTitle(QStringLiteral("バージョン情報"));
  setFont(PixelFont(12));
  setFixedSize(312, 263);

  Panel1 = new QFrame(this);
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);  // lowered outside, raised inside
  Panel1->setGeometry(8, 8, 297, 209);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setGeometry(8, 8, 64, 64);
  ProgramIcon->setScaledContents(true);
  ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/pellora/pellora.png")));

  ProductName = NewLabel(QStringLiteral("Pellora"), Panel1, 88, 16);
  QFont title = PixelFont(27);
  title.setBold(true);
  ProductName->setFont(title);
  QPalette blue = ProductName->palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  ProductName->setPalette(blue);
  ProductName->adjustSize();
  // Its place is the top of a text cell as high as the font, baseline 23 pixels down.
  // The fallback fonts add leading above the text, which would push the name onto
  // the version line: keep the baseline where it belongs instead.
  constexpr int kTitleTop = 16;
  constexpr int kTitleBaseline = 23;
  ProductName->move(88, kTitleTop + kTitleBaseline - QFontMetrics(title).ascent());

  Version = NewLabel(QStringLiteral("Version "), Panel1, 88, 45);
  Copyright = NewLabel(QString(), Panel1, 0, 184);
  Copyright->setAlignment(Qt::AlignRight | Qt::AlignTop);
  Support = NewLabel(QStringLiteral("Support Page : "), Panel1, 8, 88);
  HTLabel1 = NewLink(Panel1, 40, 104);
  mail = NewLabel(QStringLiteral("E-Mail :"), Panel1, 8, 136);
  HTLabel2 = NewLink(Panel1, 40, 152);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setGeometry(119, 228, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });

  FormCreate(support);

  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

void TAboutBox::FormCreate(const TSupportInfo& support) {
  HTLabel1->setText(TextFromFile(support.SupportUrl));
  HTLabel1->adjustSize();
  HTLabel2->setText(TextFromFile(support.SupportMail));
  HTLabel2->adjustSize();
  Version->setText(Version->text() + QString::fromStdString(VersionValue(kProductVersionPath)));
  Version->adjustSize();
  Copyright->setText(QString::fromStdString(VersionValue(kLegalCopyrightPath)));
  PlaceCopyright();
}

void TAboutBox::PlaceCopyright() {
  // Right-aligned: the label grows to the left of its fixed right edge.
  constexpr int kRightEdge = 283;
  Copyright->adjustSize();
  const int width = Copyright->width();
  Copyright->setGeometry(kRightEdge - width, Copyright->y(), width, Copyright->height());
}

void ShowAboutBox(QWidget* parent) {
  TAboutBox box(parent);
  box.exec();
}

}  // namespace pellora
