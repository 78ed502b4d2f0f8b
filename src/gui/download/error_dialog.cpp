#include "gui/download/error_dialog.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "gui/app/form_font.h"
#include "gui/app/form_position.h"

namespace pellora {

TForm_FromErrDlg::TForm_FromErrDlg(const QString& fromUrl, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("エラー - Fromのファイルが読み取れません"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  ApplyFormFont(this);

  Label_FromFile = new QLabel(fromUrl, this);
  Label_FromFile->setTextFormat(Qt::PlainText);
  Label_FromFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  Label_FromFile->setToolTip(fromUrl);
  Label1 = new QLabel(
      QStringLiteral("Fromのファイルが読み取れませんでした。ダウンロードを続行しますか？"), this);
  Label1->setWordWrap(true);
  Label1->setFixedWidth(365);
  OKBtn = new QPushButton(QStringLiteral("このファイルを飛ばして続行"), this);
  OKBtn->setDefault(true);
  AbortBtn = new QPushButton(QStringLiteral("ダウンロードを中止"), this);
  IgnoreBtn = new QPushButton(QStringLiteral("今後、エラーを無視する"), this);
  for (QPushButton* button : {OKBtn, AbortBtn, IgnoreBtn}) button->setMinimumWidth(178);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(16, 16, 14, 8);
  layout->addWidget(Label_FromFile, 0, 0, 1, 2);
  layout->addWidget(Label1, 1, 0, 1, 2, Qt::AlignLeft);
  layout->addWidget(OKBtn, 2, 1);
  layout->addWidget(AbortBtn, 3, 1);
  layout->addWidget(IgnoreBtn, 4, 1);
  layout->setColumnStretch(0, 1);
  layout->setColumnMinimumWidth(0, 200);

  connect(OKBtn, &QPushButton::clicked, this, [this] { done(ResultSkip); });
  connect(AbortBtn, &QPushButton::clicked, this, [this] { done(ResultStop); });
  connect(IgnoreBtn, &QPushButton::clicked, this, [this] { done(ResultIgnore); });

  const QSize hint = sizeHint();
  setFixedSize(std::max(439, hint.width()), std::max(173, hint.height()));
  CentreOnScreen(this);
}

void TForm_FromErrDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace pellora
