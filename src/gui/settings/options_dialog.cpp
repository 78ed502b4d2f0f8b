#include "gui/settings/options_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <stdexcept>
#include <string>

#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"
#include "core/settings/settings_keys.h"
#include "gui/app/form_font.h"
#include "gui/app/form_position.h"
#include "gui/app/shell.h"
#include "gui/app/spin_edit.h"

namespace pellora {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QString& text) {
  return text.toStdString();
}

// The range the table of keys gives an option, so that the dialog clamps as a job
// file and the command line do.
void SetRangeOf(TCSpinEdit* field, const char* key) {
  const TSettingKey* row = FindSettingKey(key);
  if (row == nullptr) throw std::logic_error(std::string("no setting key ") + key);
  field->setRange(row->Minimum, row->Maximum);
}

QPushButton* DialogButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  // No default button: a dialog makes its first auto-default button the default
  // when it is shown, and Enter in any field would then press it.
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TForm_Option::TForm_Option(TSettings& settings, TSequenceModel& model, QWidget* parent)
    : QDialog(parent), Settings(settings), Model(model) {
  setWindowTitle(QStringLiteral("オプション"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  ApplyFormFont(this);

  PageControl1 = new QTabWidget(this);
  PageControl1->addTab(BuildFilePage(), QStringLiteral("ファイル関連"));
  PageControl1->addTab(BuildNetworkPage(), QStringLiteral("ネットワーク関連"));
  PageControl1->addTab(BuildHeaderPage(), QStringLiteral("送信文字列"));
  PageControl1->addTab(BuildTransferPage(), QStringLiteral("転送"));
  PageControl1->setCurrentIndex(0);

  Button_OK = DialogButton(QStringLiteral("OK"), this);
  Button_Cancel = DialogButton(QStringLiteral("キャンセル"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button_OK);
  buttons->addWidget(Button_Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1);
  layout->addLayout(buttons);

  connect(Button_OK, &QPushButton::clicked, this, &TForm_Option::Button_OKClick);
  connect(Button_Cancel, &QPushButton::clicked, this, &TForm_Option::Button_CancelClick);
  connect(CheckBox_Proxy, &QCheckBox::toggled, this, &TForm_Option::CheckBox_ProxyClick);
  connect(CheckBox_User, &QCheckBox::toggled, this, &TForm_Option::CheckBox_UserClick);
  connect(CheckBox_Pack, &QCheckBox::toggled, this, &TForm_Option::CheckBox_PackClick);
  connect(CheckBox_ErrMessSave, &QCheckBox::toggled, this,
          &TForm_Option::CheckBox_ErrMessSaveClick);
  connect(Button_default, &QPushButton::clicked, this, &TForm_Option::Button_defaultClick);
  connect(Button_CaFile, &QPushButton::clicked, this, &TForm_Option::Button_CaFileClick);

  // A fixed dialog of 425 x 296, wider only if the font needs it.
  const QSize hint = sizeHint();
  setFixedSize(std::max(425, hint.width()), std::max(296, hint.height()));
  CentreOnScreen(this);
  FormCreate();
}

QWidget* TForm_Option::BuildFilePage() {
  TabSheet1 = new QWidget;
  CheckBox_FileSync =
      new QCheckBox(QStringLiteral("From と To で、ファイル名を連動させる"), TabSheet1);
  CheckBox_NumSync =
      new QCheckBox(QStringLiteral("From と To で、数値の範囲を連動させる"), TabSheet1);
  CheckBox_AutoSlash = new QCheckBox(
      QStringLiteral("ディレクトリ名の最後に自動的にスラッシュを付加する"), TabSheet1);
  CheckBox_Exist =
      new QCheckBox(QStringLiteral("保存先にファイルがあるものはダウンロードしない"), TabSheet1);
  GroupBox1 =
      new QGroupBox(QStringLiteral("From（リモート）のファイルが存在しないときの動作"), TabSheet1);
  CheckBox_Caution = new QCheckBox(QStringLiteral("警告の表示"), GroupBox1);
  CheckBox_Pack = new QCheckBox(QStringLiteral("To（ローカル）ファイルの数値をつめる"), GroupBox1);
  CheckBox_ErrMessSave =
      new QCheckBox(QStringLiteral("サーバから返されたエラーメッセージをToに保存"), GroupBox1);

  auto* group = new QVBoxLayout(GroupBox1);
  group->addWidget(CheckBox_Caution);
  group->addWidget(CheckBox_Pack);
  group->addWidget(CheckBox_ErrMessSave);
  auto* page = new QVBoxLayout(TabSheet1);
  page->addWidget(CheckBox_FileSync);
  page->addWidget(CheckBox_NumSync);
  page->addWidget(CheckBox_AutoSlash);
  page->addWidget(CheckBox_Exist);
  page->addWidget(GroupBox1);
  page->addStretch();
  return TabSheet1;
}

QWidget* TForm_Option::BuildNetworkPage() {
  TabSheet2 = new QWidget;
  CSpinEdit_TimeOut = new TCSpinEdit(TabSheet2);
  CSpinEdit_TimeOut->setRange(0, 600000);
  CSpinEdit_TimeOut->setSingleStep(1000);
  CSpinEdit_TimeOut->setToolTip(
      QStringLiteral("ﾃﾞﾌｫﾙﾄは10000（10秒）です。あまり長くしないでください。"));
  CheckBox_Proxy = new QCheckBox(QStringLiteral("Proxyサーバを経由する"), TabSheet2);
  Edit_Proxy = new QLineEdit(TabSheet2);
  Edit_Proxy->setEnabled(false);
  CSpinEdit_ProxyPort = new TCSpinEdit(TabSheet2);
  CSpinEdit_ProxyPort->setRange(0, 65535);
  CSpinEdit_ProxyPort->setToolTip(QStringLiteral("ﾃﾞﾌｫﾙﾄは8080"));
  CSpinEdit_ProxyPort->setEnabled(false);
  CheckBox_User = new QCheckBox(QStringLiteral("User認証が必要（BASIC認証のみ対応）"), TabSheet2);
  Edit_User = new QLineEdit(TabSheet2);
  Edit_User->setEnabled(false);
  Edit_Password = new QLineEdit(TabSheet2);
  Edit_Password->setEchoMode(QLineEdit::Password);
  Edit_Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  Edit_Password->setEnabled(false);
  CheckBox_PassSave = new QCheckBox(QStringLiteral("保存"), TabSheet2);
  Edit_CaFile = new QLineEdit(TabSheet2);
  Edit_CaFile->setToolTip(
      QStringLiteral("https で、システムの認証局に加えて信頼する認証局の証明書（PEM形式）"));
  Button_CaFile = DialogButton(QStringLiteral("参照..."), TabSheet2);

  auto* timeout = new QHBoxLayout;
  timeout->addWidget(new QLabel(QStringLiteral("タイムアウト "), TabSheet2));
  timeout->addWidget(CSpinEdit_TimeOut);
  timeout->addWidget(new QLabel(QStringLiteral("ミリ秒"), TabSheet2));
  timeout->addStretch();
  auto* proxy = new QHBoxLayout;
  proxy->addSpacing(20);
  proxy->addWidget(Edit_Proxy, 1);
  proxy->addWidget(new QLabel(QStringLiteral("ポート"), TabSheet2));
  proxy->addWidget(CSpinEdit_ProxyPort);
  auto* user = new QGridLayout;
  user->setColumnMinimumWidth(0, 20);
  user->addWidget(new QLabel(QStringLiteral("UserID"), TabSheet2), 0, 1);
  user->addWidget(Edit_User, 0, 2);
  user->addWidget(new QLabel(QStringLiteral("パスワード"), TabSheet2), 1, 1);
  user->addWidget(Edit_Password, 1, 2);
  user->addWidget(CheckBox_PassSave, 1, 3);

  auto* ca = new QHBoxLayout;
  ca->addSpacing(20);
  ca->addWidget(Edit_CaFile, 1);
  ca->addWidget(Button_CaFile);

  auto* page = new QVBoxLayout(TabSheet2);
  page->addLayout(timeout);
  page->addWidget(CheckBox_Proxy);
  page->addLayout(proxy);
  page->addWidget(CheckBox_User);
  page->addLayout(user);
  page->addWidget(new QLabel(QStringLiteral("信頼する認証局の証明書ファイル（https）"), TabSheet2));
  page->addLayout(ca);
  page->addStretch();
  return TabSheet2;
}

QWidget* TForm_Option::BuildHeaderPage() {
  TabSheet3 = new QWidget;
  Edit_Agent = new QLineEdit(TabSheet3);
  Edit_Referer = new QLineEdit(TabSheet3);
  Edit_MailAddr = new QLineEdit(TabSheet3);
  Button_default = new QPushButton(QStringLiteral("デフォルトに戻す"), TabSheet3);
  Button_default->setAutoDefault(false);

  auto* grid = new QGridLayout(TabSheet3);
  grid->addWidget(new QLabel(QStringLiteral("AGENT"), TabSheet3), 0, 0);
  grid->addWidget(Edit_Agent, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("REFERER"), TabSheet3), 1, 0);
  grid->addWidget(Edit_Referer, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Mail Address"), TabSheet3), 2, 0);
  grid->addWidget(Edit_MailAddr, 2, 1);
  grid->addWidget(Button_default, 3, 1, Qt::AlignRight);
  grid->setRowStretch(4, 1);
  return TabSheet3;
}

QWidget* TForm_Option::BuildTransferPage() {
  TabSheet4 = new QWidget;
  CSpinEdit_Connections = new TCSpinEdit(TabSheet4);
  SetRangeOf(CSpinEdit_Connections, "St_Connections");
  CSpinEdit_Connections->setToolTip(QStringLiteral("ﾃﾞﾌｫﾙﾄは1（1つずつ順に取得します）"));
  CSpinEdit_Retries = new TCSpinEdit(TabSheet4);
  SetRangeOf(CSpinEdit_Retries, "St_Retries");
  CSpinEdit_Retries->setToolTip(
      QStringLiteral("ﾃﾞﾌｫﾙﾄは0。接続エラー、タイムアウト、5xx と 429 の応答のときに取り直します。"
                     "サーバが待ち時間を指定したときはそれに従います（最長 5 分）。"));
  CSpinEdit_StopAfterMissing = new TCSpinEdit(TabSheet4);
  SetRangeOf(CSpinEdit_StopAfterMissing, "St_StopAfterMissing");
  CSpinEdit_StopAfterMissing->setToolTip(QStringLiteral("ﾃﾞﾌｫﾙﾄは0（最後まで続けます）"));
  CSpinEdit_RequestInterval = new TCSpinEdit(TabSheet4);
  SetRangeOf(CSpinEdit_RequestInterval, "St_RequestInterval");
  CSpinEdit_RequestInterval->setSingleStep(100);
  CSpinEdit_RequestInterval->setToolTip(QStringLiteral("ﾃﾞﾌｫﾙﾄは0（待たずに次を要求します）"));

  // Label and field; a note under its row spans the page. Every line is short
  // enough for the dialog's width, so nothing has to wrap.
  auto* grid = new QGridLayout;
  const auto label = [&](int row, const QString& caption, int columns = 1) {
    grid->addWidget(new QLabel(caption, TabSheet4), row, 0, 1, columns);
  };
  label(0, QStringLiteral("同時接続数"));
  grid->addWidget(CSpinEdit_Connections, 0, 1);
  label(1, QStringLiteral("2 以上にすると、サーバの負荷が大きくなります。"), 3);
  label(2, QStringLiteral("再試行の回数"));
  grid->addWidget(CSpinEdit_Retries, 2, 1);
  label(3, QStringLiteral("待ち時間は 1 秒から倍々に延びます（最長 60 秒）。"), 3);
  label(4, QStringLiteral("連続して存在しないファイルがこの数になったら終了（0:しない）"), 3);
  grid->addWidget(CSpinEdit_StopAfterMissing, 5, 1);
  label(6, QStringLiteral("リクエストの間隔 (ミリ秒)"));
  grid->addWidget(CSpinEdit_RequestInterval, 6, 1);
  grid->setColumnStretch(2, 1);

  auto* page = new QVBoxLayout(TabSheet4);
  page->addLayout(grid);
  page->addStretch();
  return TabSheet4;
}

void TForm_Option::FormCreate() {
  // The order matters: a box set here runs its rule, so with both the pack and the
  // error-message option on only the latter stays checked.
  CheckBox_FileSync->setChecked(Settings.FileSync);
  CheckBox_NumSync->setChecked(Settings.NumSync);
  CheckBox_Caution->setChecked(Settings.ShowCaution);
  CheckBox_Pack->setChecked(Settings.NumPack);
  CheckBox_ErrMessSave->setChecked(Settings.SaveErrorMessage);
  CheckBox_AutoSlash->setChecked(Settings.AutoSlash);
  CheckBox_Exist->setChecked(Settings.NotLoadIfExist);
  CSpinEdit_TimeOut->setValue(Settings.TimeOut);
  CheckBox_Proxy->setChecked(Settings.UseProxyServer);
  Edit_Proxy->setText(Q(Settings.ProxyServer));
  CSpinEdit_ProxyPort->setValue(Settings.ProxyPort);
  CheckBox_User->setChecked(Settings.RequireAuthorization);
  Edit_User->setText(Q(Settings.UserID));
  Edit_Password->setText(Q(Settings.Password));
  CheckBox_PassSave->setChecked(Settings.PasswordSaving);
  Edit_CaFile->setText(Q(Settings.TrustedCaFile));
  Edit_Agent->setText(Q(Settings.Agent));
  Edit_Referer->setText(Q(Settings.Referer));
  Edit_MailAddr->setText(Q(Settings.MailAddress));
  CSpinEdit_Connections->setValue(Settings.Connections);
  CSpinEdit_Retries->setValue(Settings.Retries);
  CSpinEdit_StopAfterMissing->setValue(Settings.StopAfterMissing);
  CSpinEdit_RequestInterval->setValue(Settings.RequestInterval);
  CheckBox_UserClick();
}

void TForm_Option::CheckBox_ProxyClick() {
  const bool on = CheckBox_Proxy->isChecked();
  Edit_Proxy->setEnabled(on);
  CSpinEdit_ProxyPort->setEnabled(on);
}

void TForm_Option::CheckBox_UserClick() {
  const bool on = CheckBox_User->isChecked();
  Edit_User->setEnabled(on);
  Edit_Password->setEnabled(on);
  CheckBox_PassSave->setEnabled(on);
}

void TForm_Option::CheckBox_PackClick() {
  if (CheckBox_Pack->isChecked()) CheckBox_ErrMessSave->setChecked(false);
}

void TForm_Option::CheckBox_ErrMessSaveClick() {
  if (CheckBox_ErrMessSave->isChecked()) CheckBox_Pack->setChecked(false);
}

void TForm_Option::Button_defaultClick() {
  Edit_Agent->setText(QStringLiteral("Pellora"));
  Edit_Referer->clear();
  Edit_MailAddr->clear();
}

void TForm_Option::Button_CaFileClick() {
  const QString chosen = TShell::AskCertificateFile(this, Edit_CaFile->text());
  if (!chosen.isEmpty()) Edit_CaFile->setText(chosen);
}

void TForm_Option::Button_OKClick() {
  // A value typed into a spin field counts even if the field still has the focus.
  CSpinEdit_TimeOut->interpretText();
  CSpinEdit_ProxyPort->interpretText();
  for (TCSpinEdit* field : {CSpinEdit_Connections, CSpinEdit_Retries, CSpinEdit_StopAfterMissing,
                            CSpinEdit_RequestInterval}) {
    field->interpretText();
  }
  Settings.FileSync = CheckBox_FileSync->isChecked();
  Settings.NumSync = CheckBox_NumSync->isChecked();
  Settings.ShowCaution = CheckBox_Caution->isChecked();
  Settings.NumPack = CheckBox_Pack->isChecked();
  Settings.SaveErrorMessage = CheckBox_ErrMessSave->isChecked();
  Settings.AutoSlash = CheckBox_AutoSlash->isChecked();
  Settings.NotLoadIfExist = CheckBox_Exist->isChecked();
  Settings.TimeOut = CSpinEdit_TimeOut->value();
  Settings.UseProxyServer = CheckBox_Proxy->isChecked();
  Settings.ProxyServer = S(Edit_Proxy->text());
  Settings.ProxyPort = CSpinEdit_ProxyPort->value();
  Settings.RequireAuthorization = CheckBox_User->isChecked();
  Settings.UserID = S(Edit_User->text());
  Settings.Password = S(Edit_Password->text());
  Settings.PasswordSaving = CheckBox_PassSave->isChecked();
  Settings.TrustedCaFile = S(Edit_CaFile->text());
  Settings.Agent = S(Edit_Agent->text());
  Settings.Referer = S(Edit_Referer->text());
  Settings.MailAddress = S(Edit_MailAddr->text());
  Settings.Connections = CSpinEdit_Connections->value();
  Settings.Retries = CSpinEdit_Retries->value();
  Settings.StopAfterMissing = CSpinEdit_StopAfterMissing->value();
  Settings.RequestInterval = CSpinEdit_RequestInterval->value();
  Model.EnableToFieldsWithLinks();
  accept();
}

void TForm_Option::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      // Escape does not cancel this dialog; only the buttons and the close box do.
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter presses the focused button and does nothing anywhere else.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
        button->click();
      }
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace pellora
