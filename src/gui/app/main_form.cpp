#include "gui/app/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/about/support_info.h"
#include "core/download/run_start.h"
#include "core/platform/file_system.h"
#include "core/sequence/mapping.h"
#include "core/settings/settings_file.h"
#include "gui/about/about_box.h"
#include "gui/app/form_font.h"
#include "gui/app/message_box.h"
#include "gui/app/new_folder_dialog.h"
#include "gui/app/shell.h"
#include "gui/app/spin_edit.h"
#include "gui/download/progress_form.h"
#include "gui/settings/options_dialog.h"
#include "gui/settings/registry_store.h"
#include "gui/settings/settings_file_messages.h"

namespace pellora {

namespace {

const QString kPatternHint = QStringLiteral("数値が入る部分は、\"?\"または\"*\"で入力します。");
const QString kMaxHint = QStringLiteral("「無制限」に設定すると、階層化されません。");
const QString kDepthHint =
    QStringLiteral("他の部分に設定した数値などにより、設定できる範囲が制限されます。");
const QStringList kMaxChoices{"10",   "50",   "100",   "256",   "500",   "1000",
                              "2000", "5000", "10000", "32767", "無制限"};

QLineEdit* NumberEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setAttribute(Qt::WA_InputMethodEnabled, false);  // digits only: no input method
  edit->setMaximumWidth(110);
  return edit;
}

QComboBox* MaxComboBox(QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  // Typed text stays as typed: no completion from the list ("20" is not "2000").
  combo->setCompleter(nullptr);
  combo->addItems(kMaxChoices);
  combo->setToolTip(kMaxHint);
  combo->setMinimumContentsLength(6);
  return combo;
}

TCSpinEdit* DepthSpinEdit(QWidget* parent) {
  auto* spin = new TCSpinEdit(parent);
  spin->setRange(kMinDepth, kMaxDepth);
  spin->setToolTip(kDepthHint);
  spin->setEnabled(false);
  return spin;
}

QPushButton* HiddenButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setVisible(false);
  return button;
}

// The forms are dense: a Japanese font is tall, and the window is only 410 high.
void Tighten(QLayout* layout) {
  layout->setContentsMargins(6, 3, 6, 3);
  layout->setSpacing(3);
}

// Sets a control only when it differs, without echoing the change back as an edit
// (and without moving the cursor of the field being typed in).
void Mirror(QLineEdit* edit, const std::string& text) {
  const QString value = QString::fromStdString(text);
  if (edit->text() == value) return;
  const QSignalBlocker block(edit);
  edit->setText(value);
}

void Mirror(QComboBox* combo, const std::string& text) {
  const QString value = QString::fromStdString(text);
  if (combo->currentText() == value) return;
  const QSignalBlocker block(combo);
  combo->setEditText(value);
}

void Mirror(TCSpinEdit* spin, int value) {
  if (spin->value() == value) return;
  const QSignalBlocker block(spin);
  spin->setValue(value);
}

void Mirror(QLabel* label, const std::string& text) {
  const QString value = QString::fromStdString(text);
  if (label->text() == value) return;
  label->setText(value);
  label->setToolTip(value);
}

// The number group of a page: "始点" start and "終点" end.
QGroupBox* NumberGroup(QWidget* parent, QLineEdit* start, QLineEdit* end) {
  auto* group = new QGroupBox(QStringLiteral("数値部分"), parent);
  auto* row = new QHBoxLayout(group);
  Tighten(row);
  row->addWidget(new QLabel(QStringLiteral("始点"), group));
  row->addWidget(start);
  row->addSpacing(16);
  row->addWidget(new QLabel(QStringLiteral("終点"), group));
  row->addWidget(end);
  row->addStretch();
  return group;
}

// The bottom row of a page: maximum files per folder and folder depth.
QHBoxLayout* HierarchyRow(QWidget* parent, QComboBox* max, TCSpinEdit* depth) {
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("各フォルダの最大ファイル数"), parent));
  row->addWidget(max);
  row->addSpacing(16);
  row->addWidget(new QLabel(QStringLiteral("階層の深さ"), parent));
  row->addWidget(depth);
  row->addStretch();
  return row;
}

// The controls of one page and its preview.
struct TSideControls {
  QLineEdit *Dir, *File, *Start, *End;
  QComboBox* Max;
  TCSpinEdit* Depth;
  QLabel *PreStart, *PreEnd;
};

void MirrorSide(const TSideFields& side, const TSideControls& controls) {
  Mirror(controls.Dir, side.Dir);
  Mirror(controls.File, side.File);
  Mirror(controls.Start, side.Start);
  Mirror(controls.End, side.End);
  Mirror(controls.Max, side.Max);
  Mirror(controls.Depth, side.Depth);
  controls.Depth->setEnabled(side.DepthEnabled);
  Mirror(controls.PreStart, side.PreStart);
  Mirror(controls.PreEnd, side.PreEnd);
}

// The rows that both pages share below their base folder row: file name, number
// part, maximum and depth.
void LayOutSidePage(QGridLayout* grid, QWidget* page, QLineEdit* file, QPushButton* fileButton,
                    QLineEdit* start, QLineEdit* end, QComboBox* max, TCSpinEdit* depth) {
  grid->addWidget(new QLabel(QStringLiteral("ファイル名"), page), 1, 0);
  grid->addWidget(file, 1, 1);
  grid->addWidget(fileButton, 1, 2);
  grid->addWidget(NumberGroup(page, start, end), 2, 0, 1, 3);
  grid->addLayout(HierarchyRow(page, max, depth), 3, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(4, 1);
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Pellora"));
  ApplyFormFont(this);
  BuildMenu();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(4, 0, 4, 4);
  layout->setSpacing(3);
  Bevel1 = new QFrame(central);
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  layout->addWidget(Bevel1);

  PageControl1 = new QTabWidget(central);
  PageControl1->tabBar()->setAttribute(Qt::WA_Hover);  // hot-tracked tabs
  PageControl1->addTab(BuildFromPage(), QStringLiteral("From（リモート）"));
  PageControl1->addTab(BuildToPage(), QStringLiteral("To（ローカル）"));
  PageControl1->setCurrentIndex(0);

  Button_Start = new QPushButton(QStringLiteral("ダウンロード開始(&D)"), central);
  Button_Start->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  Button_Start->setMinimumWidth(Button_Start->sizeHint().width());
  Button_List = HiddenButton(QStringLiteral("リストからDL(&L)..."), central);
  connect(Button_Start, &QPushButton::clicked, this, &TMainForm::Button_StartClick);
  // Beside the tab control and as high as it, tabs included.
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(Button_List);
  buttons->addWidget(Button_Start);
  auto* top = new QHBoxLayout;
  top->addWidget(PageControl1, 1);
  top->addLayout(buttons);
  layout->addLayout(top, 1);

  GroupBox_PreFrom = BuildPreviewBox(QStringLiteral("From（リモート）のファイル"),
                                     Label_PreStartFrom, Label_PreEndFrom);
  GroupBox_PreTo =
      BuildPreviewBox(QStringLiteral("To（ローカル）のファイル"), Label_PreStartTo, Label_PreEndTo);
  GroupBox_PreTo->setEnabled(false);  // the local preview is always drawn greyed
  layout->addWidget(GroupBox_PreFrom);
  layout->addWidget(GroupBox_PreTo);
  setCentralWidget(central);

  resize(510, 410);
  setMaximumHeight(410);

  ConnectFields();
  FormCreate();
  Form_Ope = new TForm_Ope(
      Settings, Model, [this](const QString& caption) { Button_Start->setText(caption); }, this);
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  Open1 = file->addAction(QStringLiteral("開く(&O)..."));
  S2 = file->addAction(QStringLiteral("現在の設定を保存(&S)..."));
  file->addSeparator();
  Exit1 = file->addAction(QStringLiteral("終了(&X)"));
  QMenu* settings = menuBar()->addMenu(QStringLiteral("設定(&S)"));
  O1 = settings->addAction(QStringLiteral("オプション設定(&O)..."));
  QMenu* download = menuBar()->addMenu(QStringLiteral("ダウンロード(&O)"));
  Download1 = download->addAction(QStringLiteral("連番ダウンロード開始(&D)"));
  ListDownload1 = download->addAction(QStringLiteral("リストからダウンロード(&L)..."));
  ListDownload1->setVisible(false);
  QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  HTMLH1 = help->addAction(QStringLiteral("HTMLヘルプ(&H)"));
  About1 = help->addAction(QStringLiteral("バージョン情報(&A)..."));

  connect(Open1, &QAction::triggered, this, &TMainForm::Open1Click);
  connect(S2, &QAction::triggered, this, &TMainForm::S2Click);
  connect(Exit1, &QAction::triggered, this, &TMainForm::Exit1Click);
  connect(O1, &QAction::triggered, this, &TMainForm::O1Click);
  connect(Download1, &QAction::triggered, this, &TMainForm::Button_StartClick);
  connect(HTMLH1, &QAction::triggered, this, &TMainForm::HTMLH1Click);
  connect(About1, &QAction::triggered, this, &TMainForm::About1Click);
}

QWidget* TMainForm::BuildFromPage() {
  TabSheet_From = new QWidget;
  auto* grid = new QGridLayout(TabSheet_From);
  Tighten(grid);
  Edit_FromDir = new QLineEdit(TabSheet_From);
  Button_Folder = HiddenButton(QStringLiteral("…"), TabSheet_From);
  Edit_FromFile = new QLineEdit(TabSheet_From);
  Edit_FromFile->setToolTip(kPatternHint);
  Button_FromFile = HiddenButton(QStringLiteral("…"), TabSheet_From);
  Edit_FromStart = NumberEdit(TabSheet_From);
  Edit_FromEnd = NumberEdit(TabSheet_From);
  ComboBox_FromMax = MaxComboBox(TabSheet_From);
  CSpinEdit_FromDepth = DepthSpinEdit(TabSheet_From);

  grid->addWidget(new QLabel(QStringLiteral("基本ディレクトリ(URL)"), TabSheet_From), 0, 0);
  grid->addWidget(Edit_FromDir, 0, 1);
  grid->addWidget(Button_Folder, 0, 2);
  LayOutSidePage(grid, TabSheet_From, Edit_FromFile, Button_FromFile, Edit_FromStart, Edit_FromEnd,
                 ComboBox_FromMax, CSpinEdit_FromDepth);
  connect(Button_Folder, &QPushButton::clicked, this, &TMainForm::Button_FolderClick);
  return TabSheet_From;
}

QWidget* TMainForm::BuildToPage() {
  TabSheet_To = new QWidget;
  auto* grid = new QGridLayout(TabSheet_To);
  Tighten(grid);
  Edit_ToDir = new QLineEdit(TabSheet_To);
  Button_ToDir = new QPushButton(QStringLiteral("…"), TabSheet_To);
  Button_ToDir->setToolTip(QStringLiteral("ﾌｫﾙﾀﾞを参照します"));
  Button_ToDir->setFixedWidth(28);
  Button_ToNew = new QPushButton(QStringLiteral("新規"), TabSheet_To);
  Button_ToNew->setFixedWidth(48);
  Edit_ToFile = new QLineEdit(TabSheet_To);
  Edit_ToFile->setToolTip(kPatternHint);
  Button_ToFile = HiddenButton(QStringLiteral("…"), TabSheet_To);
  Edit_ToStart = NumberEdit(TabSheet_To);
  Edit_ToEnd = NumberEdit(TabSheet_To);
  ComboBox_ToMax = MaxComboBox(TabSheet_To);
  CSpinEdit_ToDepth = DepthSpinEdit(TabSheet_To);
  // Linked to the From page until the settings say otherwise.
  Edit_ToFile->setEnabled(false);
  Button_ToFile->setEnabled(false);
  Edit_ToStart->setEnabled(false);
  Edit_ToEnd->setEnabled(false);

  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(Edit_ToDir, 1);
  dirRow->addWidget(Button_ToDir);
  dirRow->addWidget(Button_ToNew);
  grid->addWidget(new QLabel(QStringLiteral("基本フォルダ　"), TabSheet_To), 0, 0);
  grid->addLayout(dirRow, 0, 1);
  LayOutSidePage(grid, TabSheet_To, Edit_ToFile, Button_ToFile, Edit_ToStart, Edit_ToEnd,
                 ComboBox_ToMax, CSpinEdit_ToDepth);
  connect(Button_ToDir, &QPushButton::clicked, this, &TMainForm::Button_ToDirClick);
  connect(Button_ToNew, &QPushButton::clicked, this, &TMainForm::Button_ToNewClick);
  return TabSheet_To;
}

QGroupBox* TMainForm::BuildPreviewBox(const QString& title, QLabel*& start, QLabel*& end) {
  auto* box = new QGroupBox(title);
  auto* grid = new QGridLayout(box);
  Tighten(grid);
  start = new QLabel(box);
  end = new QLabel(box);
  for (QLabel* label : {start, end}) {
    label->setTextFormat(Qt::PlainText);  // names are shown as typed, never as markup
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // long names clip
  }
  grid->addWidget(new QLabel(QStringLiteral("始点:"), box), 0, 0);
  grid->addWidget(start, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("終点:"), box), 1, 0);
  grid->addWidget(end, 1, 1);
  grid->setColumnStretch(1, 1);
  return box;
}

void TMainForm::ConnectFields() {
  const auto edit = [this](QLineEdit* field, TFieldId id) {
    connect(field, &QLineEdit::textChanged, this,
            [this, id](const QString& text) { Model.SetText(id, text.toStdString()); });
  };
  edit(Edit_FromDir, TFieldId::FromDir);
  edit(Edit_FromFile, TFieldId::FromFile);
  edit(Edit_FromStart, TFieldId::FromStart);
  edit(Edit_FromEnd, TFieldId::FromEnd);
  edit(Edit_ToDir, TFieldId::ToDir);
  edit(Edit_ToFile, TFieldId::ToFile);
  edit(Edit_ToStart, TFieldId::ToStart);
  edit(Edit_ToEnd, TFieldId::ToEnd);
  const auto combo = [this](QComboBox* field, TFieldId id) {
    connect(field, &QComboBox::editTextChanged, this,
            [this, id](const QString& text) { Model.SetText(id, text.toStdString()); });
  };
  combo(ComboBox_FromMax, TFieldId::FromMax);
  combo(ComboBox_ToMax, TFieldId::ToMax);
  connect(CSpinEdit_FromDepth, &QSpinBox::valueChanged, this,
          [this](int value) { Model.SetDepth(TSide::From, value); });
  connect(CSpinEdit_ToDepth, &QSpinBox::valueChanged, this,
          [this](int value) { Model.SetDepth(TSide::To, value); });

  Model.SetChangedHandler([this] { MirrorModel(); });
  Model.SetMessageHandler([this](const std::string& text, const std::string& caption) {
    ShowMessageBox(this, QString::fromStdString(text), QString::fromStdString(caption));
  });
}

void TMainForm::MirrorModel() {
  MirrorSide(Model.From(),
             {Edit_FromDir, Edit_FromFile, Edit_FromStart, Edit_FromEnd, ComboBox_FromMax,
              CSpinEdit_FromDepth, Label_PreStartFrom, Label_PreEndFrom});
  MirrorSide(Model.To(), {Edit_ToDir, Edit_ToFile, Edit_ToStart, Edit_ToEnd, ComboBox_ToMax,
                          CSpinEdit_ToDepth, Label_PreStartTo, Label_PreEndTo});
  Edit_ToFile->setEnabled(Model.ToFileEnabled());
  Button_ToFile->setEnabled(Model.ToFileEnabled());
  Edit_ToStart->setEnabled(Model.ToStartEnabled());
  Edit_ToEnd->setEnabled(Model.ToEndEnabled());
}

void TMainForm::FormCreate() {
  MirrorModel();  // the initial values, before anything is loaded
  LoadSupportInfo();
  Settings = TSettings{};
  LoadRegistrySettings(Settings, Model);
  Model.EnableToFields();
  FromChange();
  ToChange();
  setAcceptDrops(true);
}

void TMainForm::FormCloseQuery() {
  SaveRegistrySettings(Settings, Model);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (Form_Ope && Form_Ope->RunInProgress()) {
    event->ignore();  // a run is still ending; its summary comes first
    return;
  }
  FormCloseQuery();
  event->accept();
}

void TMainForm::About1Click() {
  ShowAboutBox(this);
}

void TMainForm::Exit1Click() {
  close();
}

void TMainForm::HTMLH1Click() {
  // Nothing is reported when there is no help page or nothing to show it with.
  const QString page = FindHelpPage();
  if (!page.isEmpty()) TShell::OpenUrl(QUrl::fromLocalFile(page));
}

void TMainForm::Button_ToDirClick() {
  const QString chosen = TShell::BrowseForFolder(
      this, QStringLiteral("Toの基本フォルダを選択してください"), Edit_ToDir->text());
  if (!chosen.isEmpty()) Model.SetText(TFieldId::ToDir, chosen.toStdString());
}

void TMainForm::Button_ToNewClick() {
  TOKBottomDlg dialog(Edit_ToDir->text(), this);
  if (dialog.exec() == QDialog::Accepted && !dialog.NewBaseDir().isEmpty()) {
    Model.SetText(TFieldId::ToDir, dialog.NewBaseDir().toStdString());
  }
}

}  // namespace pellora

namespace pellora {

void TMainForm::O1Click() {
  {
    TForm_Option dialog(Settings, Model, this);
    dialog.exec();
  }
  FromChange();
  ToChange();
}

void TMainForm::Open1Click() {
  const QString name = TShell::AskSettingsFileName(this, TShell::TFileDialogMode::Open);
  if (!name.isEmpty()) LoadSettingsFile(name);
}

void TMainForm::S2Click() {
  const QString name = TShell::AskSettingsFileName(this, TShell::TFileDialogMode::Save);
  if (!name.isEmpty()) SaveSettingsFile(name);
}

void TMainForm::LoadSettingsFile(const QString& fileName) {
  try {
    pellora::LoadSettingsFile(fileName.toStdString(), Settings, Model);
  } catch (const EFileError& error) {
    ShowMessageBox(this, SettingsFileReadErrorText(error), kSettingsFileCaption, QMessageBox::Ok,
                   TMsgIcon::Error);
  } catch (const ESettingsValueError& error) {
    ShowMessageBox(this, SettingsFileValueErrorText(fileName, error), QStringLiteral("整数エラー"),
                   QMessageBox::Ok, TMsgIcon::Error);
  }
}

void TMainForm::SaveSettingsFile(const QString& fileName) {
  try {
    pellora::SaveSettingsFile(fileName.toStdString(), Settings, Model);
  } catch (const EFileError& error) {
    ShowMessageBox(this, SettingsFileWriteErrorText(error), kSettingsFileCaption, QMessageBox::Ok,
                   TMsgIcon::Error);
  }
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  // Loading may show a message: do it after the drag has ended.
  const QList<QUrl> urls = event->mimeData()->urls();
  QMetaObject::invokeMethod(
      this, [this, urls] { WMDropFiles(urls); }, Qt::QueuedConnection);
}

void TMainForm::WMDropFiles(const QList<QUrl>& files) {
  // Only the first file counts; its extension is not checked.
  if (!files.isEmpty() && files.constFirst().isLocalFile()) {
    LoadSettingsFile(files.constFirst().toLocalFile());
  }
}

}  // namespace pellora

namespace pellora {

void TMainForm::Button_StartClick() {
  if (Form_Ope->RunInProgress()) return;  // the last run is still showing its summary
  Button_Start->setText(QStringLiteral("初期設定中"));
  const TStartDialogs dialogs{
      [this](const std::string& text, const std::string& caption) {
        ShowMessageBox(this, QString::fromStdString(text), QString::fromStdString(caption));
      },
      [this](const std::string& text, const std::string& caption) {
        return ShowMessageBox(this, QString::fromStdString(text), QString::fromStdString(caption),
                              QMessageBox::Yes | QMessageBox::No,
                              TMsgIcon::Exclamation) == QMessageBox::Yes;
      }};
  if (PrepareRunStart(Model, dialogs)) {
    ApplyClientSettings(Settings, Form_Ope->Client);
    Form_Ope->exec();
  }
  Button_Start->setText(QStringLiteral("ダウンロード開始(&D)"));
}

}  // namespace pellora
