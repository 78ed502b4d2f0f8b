#include "gui/app/new_folder_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/platform/file_system.h"
#include "core/sequence/mapping.h"
#include "gui/app/form_font.h"
#include "gui/app/form_position.h"
#include "gui/app/message_box.h"

namespace pellora {

TOKBottomDlg::TOKBottomDlg(const QString& baseDir, QWidget* parent)
    : QDialog(parent), BaseDir(baseDir) {
  setWindowTitle(QStringLiteral("新規ﾌｫﾙﾀﾞ作成"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  ApplyFormFont(this);

  Label_NowDir = new QLabel(this);
  Label_NowDir->setTextFormat(Qt::PlainText);
  Edit_NewDir = new QLineEdit(this);
  Edit_NewDir->setMinimumWidth(300);
  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label_NowDir);
  layout->addWidget(Edit_NewDir);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog border

  connect(OKBtn, &QPushButton::clicked, this, &TOKBottomDlg::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);  // Escape too
  FormCreate();
  Edit_NewDir->setFocus();
  CentreOnScreen(this);
}

void TOKBottomDlg::FormCreate() {
  Label_NowDir->setText(QStringLiteral("\"") + BaseDir + QStringLiteral("\"の下に作成"));
}

void TOKBottomDlg::OKBtnClick() {
  const QString name = Edit_NewDir->text();
  if (name.isEmpty()) {
    accept();
    return;
  }
  if (BaseDir.isEmpty()) {
    // Without a base folder the new folder would land wherever the program was
    // started from; ask for the base first instead.
    ShowMessageBox(this, QStringLiteral("先に基本フォルダを指定してください。"),
                   QStringLiteral("新規ﾌｫﾙﾀﾞ作成"));
    reject();
    return;
  }
  const std::string path =
      JoinNewFolderPath(BaseDir.toStdString(), name.toStdString(), kLocalSeparator);
  // A folder that cannot be created is not reported here: the start of a run
  // offers to create a missing base folder.
  CreateSingleDirectory(path);
  NewBase = QString::fromStdString(path);
  accept();
}

}  // namespace pellora
