#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <utility>

#include "core/about/support_info.h"
#include "core/platform/version_info.h"
#include "gui/about/about_box.h"
#include "gui/about/ht_label.h"
#include "gui/app/shell.h"

using namespace pellora;

namespace {

const QColor kNavy(0, 0, 128);

// Records what the links ask of the desktop, and can make opening a URL fail.
struct TLinkRecorder {
  TLinkRecorder() : Saved{TShell::OpenUrl, TLinkShell::OpenCommand, TLinkShell::StartProgram} {
    TShell::OpenUrl = [this](const QUrl& url) {
      Opened.append(url);
      return UrlOpens;
    };
    TLinkShell::OpenCommand = [this](TLinkShell::TLinkKind kind) {
      Asked.append(kind);
      return kind == TLinkShell::TLinkKind::Mail ? MailCommand : WebCommand;
    };
    TLinkShell::StartProgram = [this](const QString& program, const QStringList& arguments) {
      Started.append(QStringList{program} + arguments);
      return true;
    };
  }
  ~TLinkRecorder() {
    TShell::OpenUrl = std::get<0>(Saved);
    TLinkShell::OpenCommand = std::get<1>(Saved);
    TLinkShell::StartProgram = std::get<2>(Saved);
  }

  bool UrlOpens = true;
  QString WebCommand, MailCommand;
  QList<QUrl> Opened;
  QList<TLinkShell::TLinkKind> Asked;
  QList<QStringList> Started;
  std::tuple<TShell::TOpenUrlFn, TLinkShell::TCommandFn, TLinkShell::TStartFn> Saved;
};

// Where a member actually paints: a label's text, or the whole of any other widget.
QRect Ink(QWidget* widget) {
  const auto* label = qobject_cast<QLabel*>(widget);
  if (!label || label->text().isEmpty()) return widget->geometry();
  const QFontMetrics metrics(label->font());
  const QRect text = metrics.tightBoundingRect(label->text());
  const int left = label->alignment() & Qt::AlignRight
                       ? label->width() - metrics.horizontalAdvance(label->text())
                       : 0;
  const int top = (label->height() - metrics.height()) / 2;  // vertically centred
  return text.translated(label->pos() + QPoint(left, top + metrics.ascent()));
}

QString Name(QWidget* widget) {
  const auto* label = qobject_cast<QLabel*>(widget);
  return label ? label->text() : QString::fromLatin1(widget->metaObject()->className());
}

void Click(QWidget* widget) {
  QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(2, 2));
}

}  // namespace

class AboutBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void showsVersionNoticeAndLinks() {
    const TSupportInfo support{"http://\x97\xe1\x82\xa6.jp/", "info@example.jp"};
    TAboutBox box(nullptr, support);
    box.show();
    QCOMPARE(box.windowTitle(), QStringLiteral("バージョン情報"));
    QCOMPARE(box.ProductName->text(), QStringLiteral("Pellora"));
    QCOMPARE(box.Version->text(), QStringLiteral("Version 1.2.2"));
    QCOMPARE(box.Copyright->text(),
             QString::fromStdString(VersionValue("\\StringFileInfo\\041103A4\\LegalCopyright")));
    QVERIFY(!box.Copyright->text().isEmpty());
    QCOMPARE(box.HTLabel1->text(), QStringLiteral("http://例え.jp/"));  // read as Shift-JIS
    QCOMPARE(box.HTLabel2->text(), QStringLiteral("info@example.jp"));
    QCOMPARE(box.Support->text(), QStringLiteral("Support Page : "));
    QCOMPARE(box.mail->text(), QStringLiteral("E-Mail :"));

    for (THTLabel* link : {box.HTLabel1, box.HTLabel2}) {
      QCOMPARE(link->palette().color(QPalette::WindowText), kNavy);
      QVERIFY(!link->font().underline());
      QCOMPARE(link->font().pixelSize(), 12);
      QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    }
    QCOMPARE(box.ProductName->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QVERIFY(box.ProductName->font().bold());
    QCOMPARE(box.ProductName->font().pixelSize(), 27);
  }

  void layoutKeepsEveryMemberInPlaceAndApart() {
    TAboutBox box(nullptr, TSupportInfo{kDefaultSupportUrl, kDefaultSupportMail});
    box.show();
    QCOMPARE(box.size(), QSize(312, 263));
    QCOMPARE(box.Panel1->geometry(), QRect(8, 8, 297, 209));
    QCOMPARE(box.ProgramIcon->geometry(), QRect(8, 8, 64, 64));
    QVERIFY(!box.ProgramIcon->pixmap().isNull());
    QCOMPARE(box.OKButton->geometry(), QRect(119, 228, 75, 25));
    QVERIFY(box.OKButton->isDefault());
    QCOMPARE(box.Copyright->geometry().right() + 1, 283);
    QCOMPARE(box.Copyright->y(), 184);

    const std::pair<QWidget*, QPoint> placed[] = {
        {box.Version, {88, 45}}, {box.Support, {8, 88}},    {box.HTLabel1, {40, 104}},
        {box.mail, {8, 136}},    {box.HTLabel2, {40, 152}},
    };
    // The product name's baseline stands where a cell at 88, 16 puts it.
    QCOMPARE(box.ProductName->x(), 88);
    QCOMPARE(box.ProductName->y() + QFontMetrics(box.ProductName->font()).ascent(), 16 + 23);
    QList<QWidget*> members{box.ProgramIcon, box.Copyright, box.ProductName};
    for (const auto& [widget, at] : placed) {
      QCOMPARE(widget->pos(), at);
      members.append(widget);
    }
    for (QWidget* widget : members) {
      QCOMPARE(widget->parentWidget(), box.Panel1);
      // The whole text fits, inside the panel's frame, and no two members' ink meets
      // (the boxes of the labels may: the positions are tighter than the line spacing
      // of the fallback fonts).
      QVERIFY(widget->width() >= widget->sizeHint().width());
      QVERIFY(box.Panel1->contentsRect().contains(Ink(widget)));
      for (QWidget* other : members) {
        if (other == widget) continue;
        QVERIFY2(!Ink(widget).intersects(Ink(other)),
                 qPrintable(Name(widget) + QStringLiteral(" meets ") + Name(other)));
      }
    }
  }

  void okClosesWithResultOne() {
    TAboutBox box(nullptr, TSupportInfo{});
    box.show();
    Click(box.OKButton);
    QVERIFY(!box.isVisible());
    QCOMPARE(box.result(), 1);
  }

  void showAboutBoxIsModalAndDestroysTheBox() {
    bool sawModalBox = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
      sawModalBox = box != nullptr;
      if (box) QTest::keyClick(box, Qt::Key_Return);  // the default button
    });
    ShowAboutBox(nullptr);
    QVERIFY(sawModalBox);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      QVERIFY(!qobject_cast<TAboutBox*>(widget));
    }
  }

  void urlDatOfTheCurrentDirectoryReachesTheBox() {
    QTemporaryDir dir;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const auto write = [&](const QByteArray& bytes) {
      QFile file(dir.filePath(QStringLiteral("url.dat")));
      QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
      file.write(bytes);
    };
    write("http://www.example.jp/pellora/\r\n11102\r\ninfo@example.jp\r\n8029\r\n");
    LoadSupportInfo();
    {
      TAboutBox box;
      QCOMPARE(box.HTLabel1->text(), QStringLiteral("http://www.example.jp/pellora/"));
      QCOMPARE(box.HTLabel2->text(), QStringLiteral("info@example.jp"));
    }
    write("http://www.example.jp/pellorb/\r\n11102\r\ninfo@example.jp\r\n8029\r\n");
    LoadSupportInfo();
    {
      TAboutBox box;
      QCOMPARE(box.HTLabel1->text(), QString::fromLatin1(kDefaultSupportUrl));
      QCOMPARE(box.HTLabel2->text(), QStringLiteral("info@example.jp"));
    }
    QDir::setCurrent(oldCwd);
  }

  void plainLabelIsUnderlinedNavyWithHandCursor() {
    THTLabel label;
    QVERIFY(label.font().underline());
    QCOMPARE(label.palette().color(QPalette::WindowText), kNavy);
    QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
    label.setText(QStringLiteral("<b>not markup</b>"));
    QCOMPARE(label.textFormat(), Qt::PlainText);
  }

  void clickOpensCaptionAfterTheClickEvent() {
    QFETCH(QString, caption);
    QFETCH(QUrl, opened);
    TLinkRecorder links;
    THTLabel label;
    label.setText(caption);
    label.resize(200, 20);
    int clicksBeforeOpen = -1;
    int clicks = 0;
    connect(&label, &THTLabel::Click, [&] { ++clicks; });
    TShell::OpenUrl = [&](const QUrl& url) {
      clicksBeforeOpen = clicks;
      links.Opened.append(url);
      return true;
    };
    Click(&label);
    QCOMPARE(links.Opened, QList<QUrl>{opened});
    QCOMPARE(clicksBeforeOpen, 1);
    QVERIFY(links.Started.isEmpty());
  }
  void clickOpensCaptionAfterTheClickEvent_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QUrl>("opened");
    QTest::newRow("web page") << QStringLiteral("http://www.example.jp/")
                              << QUrl(QStringLiteral("http://www.example.jp/"));
    QTest::newRow("mail") << QStringLiteral("info@example.jp")
                          << QUrl(QStringLiteral("mailto:info@example.jp"));
    QTest::newRow("HTTP in capitals is a mail address")
        << QStringLiteral("HTTP://www.example.jp/")
        << QUrl(QStringLiteral("mailto:HTTP://www.example.jp/"));
    QTest::newRow("https is a mail address too")
        << QStringLiteral("https://www.example.jp/")
        << QUrl(QStringLiteral("mailto:https://www.example.jp/"));
  }

  void fallsBackToTheDesktopsCommandLine() {
    TLinkRecorder links;
    links.UrlOpens = false;
    links.WebCommand = QStringLiteral(R"("/opt/web browser/browse" -new "%1")");
    links.MailCommand = QStringLiteral("/usr/bin/mailer -compose %1 -quiet");

    OpenLink(QStringLiteral("http://www.example.jp/"));
    OpenLink(QStringLiteral("info@example.jp"));
    // A caption with blanks and quotes stays one argument: it cannot add options.
    OpenLink(QStringLiteral(R"(http://x" --evil "y)"));
    QCOMPARE(links.Asked, (QList<TLinkShell::TLinkKind>{TLinkShell::TLinkKind::WebPage,
                                                        TLinkShell::TLinkKind::Mail,
                                                        TLinkShell::TLinkKind::WebPage}));
    QCOMPARE(links.Started, (QList<QStringList>{
                                {QStringLiteral("/opt/web browser/browse"), QStringLiteral("-new"),
                                 QStringLiteral("http://www.example.jp/")},
                                {QStringLiteral("/usr/bin/mailer"), QStringLiteral("-compose"),
                                 QStringLiteral("-quiet"), QStringLiteral("info@example.jp")},
                                {QStringLiteral("/opt/web browser/browse"), QStringLiteral("-new"),
                                 QStringLiteral(R"(http://x" --evil "y)")},
                            }));
  }

  void linkThatCannotBeOpenedDoesNothing() {
    TLinkRecorder links;
    links.UrlOpens = false;  // and no command line either
    THTLabel label;
    label.setText(QStringLiteral("info@example.jp"));
    label.resize(200, 20);
    Click(&label);
    QCOMPARE(links.Opened.size(), 1);
    QVERIFY(links.Started.isEmpty());

    // A press that is released outside the label is no click.
    links.UrlOpens = true;
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(500, 2));
    QCOMPARE(links.Opened.size(), 1);
  }
};

QTEST_MAIN(AboutBoxTest)
#include "test_about_box.moc"
