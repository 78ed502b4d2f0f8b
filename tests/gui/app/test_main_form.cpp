#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "core/settings/ini_store.h"
#include "gui/about/about_box.h"
#include "gui/app/main_form.h"
#include "gui/app/message_box.h"
#include "gui/app/new_folder_dialog.h"
#include "gui/app/shell.h"
#include "gui/app/spin_edit.h"
#include "gui/download/error_dialog.h"
#include "gui/settings/options_dialog.h"
#include "gui/settings/registry_store.h"
#include "support/gui_test_env.h"

using namespace pellora;

namespace {

const QString kIntegerMessage =
    QStringLiteral("数値部分の範囲が整数でないか、\nまたは絶対値が大きすぎます。");

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TGuiTestEnv> Env;
  std::unique_ptr<TMessageBoxRecorder> Boxes;

  std::unique_ptr<TMainForm> NewForm() {
    auto form = std::make_unique<TMainForm>();
    form->show();
    return form;
  }

  // Values as an earlier run of the program would have stored them.
  void Store(std::initializer_list<std::pair<const char*, QVariant>> values) {
    QDir().mkpath(QFileInfo(Env->StoreFile()).absolutePath());
    QSettings store(Env->StoreFile(), QSettings::IniFormat);
    for (const auto& [name, value] : values) store.setValue(name, value);
  }

 private slots:
  void init() {
    Env = std::make_unique<TGuiTestEnv>();
    Boxes = std::make_unique<TMessageBoxRecorder>();
  }
  void cleanup() {
    Boxes.reset();
    Env.reset();
  }

  void firstStartShowsInitialValuesAndLinkedToFields() {
    auto form = NewForm();
    QVERIFY(QFile::exists(Env->StoreFile()));  // the empty store exists after the start
    QCOMPARE(QFileInfo(Env->StoreFile()).permissions() & 0x0077, QFileDevice::Permissions{});
    QCOMPARE(form->windowTitle(), QStringLiteral("Pellora"));
    QCOMPARE(form->Edit_FromFile->text(), QStringLiteral("*.html"));
    QCOMPARE(form->ComboBox_FromMax->currentText(), QStringLiteral("無制限"));
    QVERIFY(!form->CSpinEdit_FromDepth->isEnabled());
    QVERIFY(!form->Edit_ToFile->isEnabled());
    QVERIFY(!form->Edit_ToStart->isEnabled());
    QVERIFY(!form->Edit_ToEnd->isEnabled());
    QVERIFY(!form->GroupBox_PreTo->isEnabled());
    QCOMPARE(form->Label_PreStartFrom->text(), form->Edit_FromDir->text() + "1.html");
    QCOMPARE(form->Label_PreEndTo->text(), QStringLiteral("100.html"));
    QVERIFY(!form->ListDownload1->isVisible());
    QVERIFY(!form->Button_List->isVisible());
    QCOMPARE(form->ComboBox_ToMax->count(), 11);
    QCOMPARE(form->ComboBox_ToMax->itemText(3), QStringLiteral("256"));
    QVERIFY(form->height() <= 410);
    QVERIFY(Boxes->Records().isEmpty());
  }

  void typingUpdatesBothPreviewsAndLinkedFields() {
    auto form = NewForm();
    form->Edit_ToDir->setText(QStringLiteral("/data/dl"));
    form->Edit_FromFile->clear();
    QTest::keyClicks(form->Edit_FromFile, QStringLiteral("img???.jpg"));
    form->Edit_FromEnd->selectAll();
    QTest::keyClicks(form->Edit_FromEnd, QStringLiteral("12345"));
    QCOMPARE(form->Edit_ToFile->text(), QStringLiteral("img???.jpg"));
    QCOMPARE(form->Edit_ToEnd->text(), QStringLiteral("12345"));
    QCOMPARE(form->Label_PreEndFrom->text(), form->Edit_FromDir->text() + "img345.jpg");
    QCOMPARE(form->Label_PreStartTo->text(), QStringLiteral("/data/dl/img001.jpg"));

    form->ComboBox_ToMax->setCurrentText(QStringLiteral("100"));
    QVERIFY(form->CSpinEdit_ToDepth->isEnabled());
    QCOMPARE(form->CSpinEdit_ToDepth->value(), 2);
    QCOMPARE(form->Label_PreEndTo->text(), QStringLiteral("/data/dl/1/123/img345.jpg"));
    QVERIFY(Boxes->Records().isEmpty());
  }

  void depthFieldKeepsItsRules() {
    auto form = NewForm();
    form->Edit_FromEnd->setText(QStringLiteral("12345"));
    form->ComboBox_FromMax->setCurrentIndex(form->ComboBox_FromMax->findText("100"));
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 2);
    form->CSpinEdit_FromDepth->setValue(1);  // below the minimum: back at once
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 2);
    form->CSpinEdit_FromDepth->setValue(5);
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 5);
    QVERIFY(form->Label_PreEndFrom->text().endsWith("0/0/0/1/123/12345.html"));

    // Typed text: out of range reads as the bound, anything else as 0 (then the
    // minimum), and leaving the field writes the value back.
    form->CSpinEdit_FromDepth->setFocus();
    form->CSpinEdit_FromDepth->selectAll();
    QTest::keyClicks(form->CSpinEdit_FromDepth, QStringLiteral("500"));
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 127);
    form->CSpinEdit_FromDepth->selectAll();
    QTest::keyClicks(form->CSpinEdit_FromDepth, QStringLiteral("ab"));
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 2);
    QTest::keyClick(form->CSpinEdit_FromDepth, Qt::Key_Tab);
    QCOMPARE(form->CSpinEdit_FromDepth->text(), QStringLiteral("2"));

    form->ComboBox_FromMax->setCurrentText(QStringLiteral("無制限"));
    QVERIFY(!form->CSpinEdit_FromDepth->isEnabled());
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 0);
    QVERIFY(Boxes->Records().isEmpty());
  }

  void badNumbersShowExactlyOneMessage() {
    auto form = NewForm();
    const QString before = form->Label_PreStartFrom->text();
    form->Edit_FromStart->selectAll();
    QTest::keyClick(form->Edit_FromStart, Qt::Key_Minus);
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(Boxes->Records()[0].Text, kIntegerMessage);
    QCOMPARE(Boxes->Records()[0].Caption, QStringLiteral("整数エラー"));
    QCOMPARE(Boxes->Records()[0].Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(Boxes->Records()[0].Icon, TMsgIcon::None);
    QCOMPARE(form->Label_PreStartFrom->text(), before);
    QTest::keyClick(form->Edit_FromStart, Qt::Key_5);
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(form->Edit_ToStart->text(), QStringLiteral("-5"));

    Boxes->Clear();
    form->ComboBox_ToMax->setCurrentText(QStringLiteral("abc"));
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(Boxes->Records()[0].Text,
             QStringLiteral("最大ファイル数が整数でないか、\nまたは絶対値が大きすぎます。"));
  }

  void maximumStaysAsTyped() {
    auto form = NewForm();
    // Completion works on the focused field of the active window only.
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->Edit_FromEnd->setText(QStringLiteral("12345"));
    // Each text is the start of a choice in the list ("20" of "2000", "1" of "10").
    for (const char* typed : {"1", "5", "20"}) {
      form->ComboBox_FromMax->setFocus();
      form->ComboBox_FromMax->lineEdit()->selectAll();
      QTest::keyClicks(form->ComboBox_FromMax, QString::fromLatin1(typed));
      QTest::keyClick(form->ComboBox_FromMax, Qt::Key_Tab);
      QCOMPARE(form->ComboBox_FromMax->currentText(), QString::fromLatin1(typed));
      QCOMPARE(form->Model.From().Max, std::string(typed));
    }
    QVERIFY2(form->Label_PreEndFrom->text().endsWith("/1/30/617/12345.html"),
             qPrintable(form->Label_PreEndFrom->text()));
  }

  void startButtonStandsBesideTheTabControl() {
    auto form = NewForm();
    const auto place = [&form](QWidget* widget) {
      return QRect(widget->mapTo(form.get(), QPoint()), widget->size());
    };
    const QRect tabs = place(form->PageControl1);
    const QRect button = place(form->Button_Start);
    QCOMPARE(button.top(), tabs.top());
    QCOMPARE(button.bottom(), tabs.bottom());
    QVERIFY(button.left() > tabs.right());
  }

  void dialogsOpenCentredOnTheScreen() {
    auto form = NewForm();
    form->move(0, 0);  // away from the middle, where a dialog over it would open
    const QPoint middle = form->screen()->availableGeometry().center();
    TOKBottomDlg folder(Env->WorkDir(), form.get());
    TForm_Option options(form->Settings, form->Model, form.get());
    TForm_FromErrDlg error(QStringLiteral("http://h.test/1.html"), form.get());
    for (QDialog* dialog : std::initializer_list<QDialog*>{&folder, &options, &error}) {
      dialog->show();
      // Within the frame, which is unknown until the window is shown.
      QVERIFY2((dialog->frameGeometry().center() - middle).manhattanLength() <= 20,
               qPrintable(dialog->windowTitle()));
      dialog->hide();
    }
  }

  void messagesShowFileNamesAsTheyAre() {
    auto form = NewForm();
    const QString name = Env->WorkDir() + QStringLiteral("/job %1 %2.pel");
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("St_TimeOut = 5%2\r\n");
    file.close();
    form->LoadSettingsFile(name);
    QCOMPARE(Boxes->Records().size(), 1);
    QCOMPARE(Boxes->Records()[0].Text,
             QStringLiteral("設定ファイル \"") + name +
                 QStringLiteral("\" の 1 行目: St_TimeOut の値 \"5%2\" が整数ではありません。\n"
                                "この行から後は読み込まれていません。"));
  }

  void toEndDerivedAndPackMarked() {
    Store({{"NumSync", 0}});
    auto form = NewForm();
    QVERIFY(form->Edit_ToStart->isEnabled());
    QVERIFY(!form->Edit_ToEnd->isEnabled());
    form->Edit_ToStart->setText(QStringLiteral("201"));
    QCOMPARE(form->Edit_ToEnd->text(), QStringLiteral("300"));
    form->Edit_ToStart->setText(QStringLiteral("11"));
    QCOMPARE(form->Edit_ToEnd->text(), QStringLiteral("110"));
    form.reset();

    Store({{"NumSync", 0}, {"NumPack", 1}, {"ToEnd", "500"}});
    form = NewForm();
    QVERIFY(form->Edit_ToEnd->isEnabled());
    QCOMPARE(form->Label_PreEndTo->text(), QStringLiteral("500.html（参考値）"));
  }

  void namesAreShownAsTyped() {
    auto form = NewForm();
    form->Edit_FromDir->setText(QStringLiteral("http://h/<b>a&amp;b</b>&c/"));
    QCOMPARE(form->Label_PreStartFrom->text(), QStringLiteral("http://h/<b>a&amp;b</b>&c/1.html"));
    QCOMPARE(form->Label_PreStartFrom->textFormat(), Qt::PlainText);
  }

  void settingsSurviveARestart() {
    auto form = NewForm();
    form->Settings.NumSync = false;
    form->Settings.TimeOut = 2500;
    form->Settings.Password = "secret";
    form->Settings.PasswordSaving = false;
    form->Settings.Agent = "エージェント";
    form->Edit_FromDir->setText(QStringLiteral("http://example.test/写真/"));
    form->Edit_FromFile->setText(QStringLiteral("p???.png"));
    form->ComboBox_FromMax->setCurrentText(QStringLiteral("10"));
    form->Edit_FromEnd->setText(QStringLiteral("5000"));
    form->CSpinEdit_FromDepth->setValue(6);
    form->Edit_ToDir->setText(QStringLiteral(" /tmp/dl "));
    form->Model.EnableToFields();
    form->Edit_ToStart->setText(QStringLiteral("7"));
    form->Exit1->trigger();  // the menu's exit stores like the close box
    QVERIFY(!form->isVisible());
    form.reset();

    QCOMPARE(QFileInfo(Env->StoreFile()).permissions() & 0x0077, QFileDevice::Permissions{});
    QSettings stored(Env->StoreFile(), QSettings::IniFormat);
    QCOMPARE(stored.value("Password").toString(), QString());
    QCOMPARE(stored.value("Version").toString(), QStringLiteral("1.2.2"));
    QVERIFY(!stored.value("ProgramFileName").toString().isEmpty());
    QVERIFY(!stored.value("ProgramPath").toString().endsWith('/'));

    form = NewForm();
    QCOMPARE(form->Settings.NumSync, false);
    QCOMPARE(form->Settings.TimeOut, 2500);
    QCOMPARE(form->Settings.Password, std::string());
    QCOMPARE(form->Settings.Agent, std::string("エージェント"));
    QCOMPARE(form->Edit_FromDir->text(), QStringLiteral("http://example.test/写真/"));
    QCOMPARE(form->ComboBox_FromMax->currentText(), QStringLiteral("10"));
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 6);
    QCOMPARE(form->Edit_ToDir->text(), QStringLiteral(" /tmp/dl "));
    QCOMPARE(form->Edit_ToStart->text(), QStringLiteral("7"));
    QCOMPARE(form->Edit_ToEnd->text(), QStringLiteral("5006"));
    QCOMPARE(form->Edit_ToFile->text(), QStringLiteral("p???.png"));
    form->close();
  }

  void storedValuesAreClampedOrKeptAsStored() {
    Store({{"FromMax", "100"},
           {"FromDepth", 500},
           {"ToDepth", -3},
           {"TimeOut", -20},
           {"FromStart", "abc"},
           {"UseProxyServer", "yes"}});
    auto form = NewForm();
    QCOMPARE(form->CSpinEdit_FromDepth->value(), 127);
    QCOMPARE(form->CSpinEdit_ToDepth->value(), 0);
    QCOMPARE(form->Settings.TimeOut, -20);
    QCOMPARE(form->Settings.UseProxyServer, false);  // not a number: the default stays
    QCOMPARE(form->Edit_FromStart->text(), QStringLiteral("abc"));
    QVERIFY(!Boxes->Records().isEmpty());
    QCOMPARE(Boxes->Records().back().Text, kIntegerMessage);
  }

  void handEditedStoreValuesAreReadAndKeptAsTyped() {
    // Values in forms the window never writes, as a person may type them.
    QDir().mkpath(QFileInfo(Env->StoreFile()).absolutePath());
    QFile file(Env->StoreFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nFromFile=a,b*.x\nToDir=/data/x, y\nAgent=one, two\n");
    file.close();
    auto form = NewForm();
    QCOMPARE(form->Edit_FromFile->text(), QStringLiteral("a,b*.x"));
    QCOMPARE(form->Edit_ToDir->text(), QStringLiteral("/data/x, y"));
    QCOMPARE(form->Settings.Agent, std::string("one, two"));
    form->close();

    // Written back unchanged, and read the same by the front-ends without a window.
    const TIniStoreReader stored = TIniStoreReader::FromFile(Env->StoreFile().toStdString());
    QCOMPARE(stored.ReadText("FromFile").value_or(""), std::string("a,b*.x"));
    QCOMPARE(stored.ReadText("ToDir").value_or(""), std::string("/data/x, y"));
    QCOMPARE(stored.ReadText("Agent").value_or(""), std::string("one, two"));
    QCOMPARE(QSettings(Env->StoreFile(), QSettings::IniFormat).value("FromFile").toString(),
             QStringLiteral("a,b*.x"));
  }

  void unwritableStoreLosesNothingInMemory() {
    // A file where the maker's folder should be: the store cannot be created.
    QFile blocker(Env->ConfigHome() + QStringLiteral("/Varnel"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto form = NewForm();
    form->Edit_FromFile->setText(QStringLiteral("keep?.txt"));
    QVERIFY(!SaveRegistrySettings(form->Settings, form->Model));
    form->close();
    QCOMPARE(form->Edit_FromFile->text(), QStringLiteral("keep?.txt"));
    QCOMPARE(form->Model.From().File, std::string("keep?.txt"));
  }

  void folderBrowserPreselectsAndSetsTheBase() {
    auto form = NewForm();
    QString preselected;
    QString answer = QStringLiteral("/chosen/folder");
    const TShell::TBrowseFn original = TShell::BrowseForFolder;
    QString title;
    TShell::BrowseForFolder = [&](QWidget*, const QString& caption, const QString& start) {
      preselected = start;
      title = caption;
      return answer;
    };
    form->Edit_ToDir->setText(QStringLiteral("/old"));
    form->Button_ToDir->click();
    QCOMPARE(preselected, QStringLiteral("/old"));
    QCOMPARE(title, QStringLiteral("Toの基本フォルダを選択してください"));
    QCOMPARE(form->Edit_ToDir->text(), answer);
    QCOMPARE(form->Label_PreStartTo->text(), QStringLiteral("/chosen/folder/1.html"));
    answer.clear();  // cancelled
    form->Button_ToDir->click();
    QCOMPARE(form->Edit_ToDir->text(), QStringLiteral("/chosen/folder"));
    TShell::BrowseForFolder = original;
  }

  void newFolderIsCreatedBelowTheBase_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << ""
                           << "new";
    QTest::newRow("base ends in separator") << "/"
                                            << "new";
    QTest::newRow("name begins with separator") << ""
                                                << "/new";
  }

  void newFolderIsCreatedBelowTheBase() {
    QFETCH(QString, base);
    QFETCH(QString, name);
    auto form = NewForm();
    form->Edit_ToDir->setText(Env->WorkDir() + base);
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<TOKBottomDlg*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      QCOMPARE(dialog->windowTitle(), QStringLiteral("新規ﾌｫﾙﾀﾞ作成"));
      QCOMPARE(dialog->Label_NowDir->text(), "\"" + Env->WorkDir() + base + "\"の下に作成");
      dialog->Edit_NewDir->setText(name);
      dialog->OKBtn->click();
    });
    form->Button_ToNew->click();
    QCOMPARE(form->Edit_ToDir->text(), Env->WorkDir() + "/new");
    QVERIFY(QFileInfo(Env->WorkDir() + "/new").isDir());
  }

  void newFolderWithoutNameOrBaseChangesNothing() {
    auto form = NewForm();
    form->Edit_ToDir->setText(Env->WorkDir());
    TOKBottomDlg empty(form->Edit_ToDir->text());
    empty.OKBtnClick();
    QCOMPARE(empty.result(), int(QDialog::Accepted));
    QVERIFY(empty.NewBaseDir().isEmpty());

    TOKBottomDlg noBase(QString{});
    noBase.Edit_NewDir->setText(QStringLiteral("x"));
    noBase.OKBtnClick();
    QCOMPARE(noBase.result(), int(QDialog::Rejected));
    QVERIFY(noBase.NewBaseDir().isEmpty());
    QCOMPARE(Boxes->Records().size(), 1);
    QVERIFY(!QFileInfo::exists(QStringLiteral("x")) || QFileInfo(QStringLiteral("x")).isFile());
  }

  void aboutBoxShowsTheVersion() {
    auto form = NewForm();
    QString version;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      version = box->Version->text();
      box->accept();
    });
    form->About1->trigger();
    QCOMPARE(version, QStringLiteral("Version 1.2.2"));
  }

  void helpPageIsLookedForBesideTheProgramOnly() {
    const auto touch = [](const QString& path) {
      QDir().mkpath(QFileInfo(path).absolutePath());
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
    };
    // The built program finds the pages that the build put beside it.
    QVERIFY(QFile::exists(FindHelpPage(QStringLiteral(PELLORA_PROGRAM_DIR))));
    // An installation: the pages below <prefix>/share for <prefix>/bin.
    const QString prefix = Env->WorkDir() + "/prefix";
    QDir().mkpath(prefix + "/bin");
    QVERIFY(FindHelpPage(prefix + "/bin").isEmpty());
    touch(prefix + "/share/pellora/manual/pehelp00.html");
    QCOMPARE(FindHelpPage(prefix + "/bin"), prefix + "/share/pellora/manual/pehelp00.html");

    // Neither the current directory nor the build's folders count for a program
    // elsewhere: this test program has no pages beside it, so nothing is opened.
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(Env->WorkDir());
    touch(Env->WorkDir() + "/manual/pehelp00.html");
    auto form = NewForm();
    bool opened = false;
    const TShell::TOpenUrlFn original = TShell::OpenUrl;
    TShell::OpenUrl = [&](const QUrl&) { return opened = true; };
    form->HTMLH1->trigger();
    QVERIFY(!opened);
    QVERIFY(Boxes->Records().isEmpty());
    QDir::setCurrent(oldDir);
    TShell::OpenUrl = original;
  }
};

QTEST_MAIN(MainFormTest)
#include "test_main_form.moc"
