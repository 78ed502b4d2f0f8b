#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <climits>
#include <cstdint>
#include <memory>

#include "gui/app/main_form.h"
#include "gui/app/message_box.h"
#include "gui/app/shell.h"
#include "gui/app/spin_edit.h"
#include "gui/settings/options_dialog.h"
#include "support/gui_test_env.h"

using namespace pellora;

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TGuiTestEnv> Env;
  std::unique_ptr<TMessageBoxRecorder> Boxes;
  std::unique_ptr<TMainForm> Form;

  // Runs `act` on the options dialog once it is shown from the menu.
  void WithOptionsDialog(std::function<void(TForm_Option*)> act) {
    QTimer::singleShot(0, [act] {
      auto* dialog = qobject_cast<TForm_Option*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      act(dialog);
      if (dialog->isVisible()) dialog->reject();  // also after a failed check
    });
    Form->O1->trigger();
  }

 private slots:
  void init() {
    Env = std::make_unique<TGuiTestEnv>();
    Boxes = std::make_unique<TMessageBoxRecorder>();
    Form = std::make_unique<TMainForm>();
    Form->show();
  }
  void cleanup() {
    Form.reset();
    Boxes.reset();
    Env.reset();
  }

  void fillingOrderLeavesOnlyTheErrorMessageBox() {
    Form->Settings.NumPack = true;
    Form->Settings.SaveErrorMessage = true;
    TForm_Option dialog(Form->Settings, Form->Model);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("オプション"));
    QVERIFY(!dialog.CheckBox_Pack->isChecked());
    QVERIFY(dialog.CheckBox_ErrMessSave->isChecked());
    QCOMPARE(dialog.PageControl1->currentIndex(), 0);
    QVERIFY(!dialog.Button_OK->isDefault());
    QVERIFY(!dialog.Button_Cancel->isDefault());
    dialog.Button_OK->click();
    QCOMPARE(Form->Settings.NumPack, false);
    QCOMPARE(Form->Settings.SaveErrorMessage, true);
  }

  void dependentControlsFollowTheirBoxes() {
    Form->Settings.ProxyServer = "proxy.test";
    TForm_Option off(Form->Settings, Form->Model);
    QVERIFY(!off.Edit_Proxy->isEnabled());
    QVERIFY(!off.CSpinEdit_ProxyPort->isEnabled());
    QCOMPARE(off.Edit_Proxy->text(), QStringLiteral("proxy.test"));
    QVERIFY(!off.Edit_User->isEnabled());
    QVERIFY(!off.CheckBox_PassSave->isEnabled());

    Form->Settings.UseProxyServer = true;
    Form->Settings.RequireAuthorization = true;
    TForm_Option on(Form->Settings, Form->Model);
    QVERIFY(on.Edit_Proxy->isEnabled());
    QVERIFY(on.CSpinEdit_ProxyPort->isEnabled());
    QVERIFY(on.Edit_Password->isEnabled());
    QCOMPARE(on.Edit_Password->echoMode(), QLineEdit::Password);
    QTest::mouseClick(on.CheckBox_User, Qt::LeftButton, {},
                      QPoint(4, on.CheckBox_User->height() / 2));
    QVERIFY(!on.Edit_User->isEnabled());
    QVERIFY(!on.CheckBox_PassSave->isEnabled());

    on.CheckBox_Pack->click();
    QVERIFY(on.CheckBox_Pack->isChecked());
    on.CheckBox_ErrMessSave->click();
    QVERIFY(!on.CheckBox_Pack->isChecked());
    on.CheckBox_ErrMessSave->click();  // unchecking leaves the other alone
    QVERIFY(!on.CheckBox_Pack->isChecked());
    QVERIFY(!on.CheckBox_ErrMessSave->isChecked());
  }

  void restoreDefaultsThenCancelChangesNothing() {
    Form->Settings.Agent = "MyAgent";
    Form->Settings.Referer = "http://r.test/";
    Form->Settings.MailAddress = "me@test";
    const TSettings before = Form->Settings;
    WithOptionsDialog([](TForm_Option* dialog) {
      dialog->Button_default->click();
      dialog->CSpinEdit_Connections->setValue(8);
      dialog->CSpinEdit_RequestInterval->setValue(2000);
      QCOMPARE(dialog->Edit_Agent->text(), QStringLiteral("Pellora"));
      QVERIFY(dialog->Edit_Referer->text().isEmpty());
      QTest::keyClick(dialog, Qt::Key_Escape);  // does not close the dialog
      QVERIFY(dialog->isVisible());
      dialog->Button_Cancel->click();
    });
    QVERIFY(Form->Settings == before);
  }

  void enterPressesOnlyTheFocusedButton() {
    WithOptionsDialog([](TForm_Option* dialog) {
      QVERIFY(!dialog->Button_OK->isDefault());
      QVERIFY(!dialog->Button_Cancel->isDefault());
      dialog->PageControl1->setCurrentIndex(2);
      dialog->Edit_Agent->setFocus();
      dialog->Edit_Agent->setText(QStringLiteral("typed"));
      QTest::keyClick(dialog->Edit_Agent, Qt::Key_Return);  // in a field: nothing
      QVERIFY(dialog->isVisible());
      dialog->PageControl1->setCurrentIndex(3);
      dialog->CSpinEdit_Retries->setFocus();
      QTest::keyClick(dialog->CSpinEdit_Retries, Qt::Key_Return);
      QTest::keyClick(dialog->CSpinEdit_Retries, Qt::Key_Escape);
      QVERIFY(dialog->isVisible());
      dialog->PageControl1->setCurrentIndex(2);
      dialog->Button_default->setFocus();
      QTest::keyClick(dialog->Button_default, Qt::Key_Return);
      QCOMPARE(dialog->Edit_Agent->text(), QStringLiteral("Pellora"));
      QVERIFY(dialog->isVisible());
      dialog->Edit_Referer->setText(QStringLiteral("http://r.test/"));
      dialog->Button_OK->setFocus();
      QTest::keyClick(dialog->Button_OK, Qt::Key_Enter);
    });
    QCOMPARE(Form->Settings.Referer, std::string("http://r.test/"));
  }

  void jobFileDialogsShowEveryFileAndOpenTypedNames() {
    const QString work = Env->WorkDir();
    for (const char* name : {"job", "other.pel", "notes.txt"}) {
      QFile file(work + "/" + name);
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const auto dialog = NewSettingsFileDialog(nullptr, TShell::TFileDialogMode::Open);
    dialog->setDirectory(work);
    dialog->show();
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    QCOMPARE(types->count(), 2);
    QCOMPARE(types->itemText(0), QStringLiteral("Pellora用設定ファイル(*.pel)"));
    QCOMPARE(types->itemText(1), QStringLiteral("全てのファイル(*.*)"));
    auto* model = dialog->findChild<QFileSystemModel*>();
    QVERIFY(model);
    const auto listed = [&] {
      QStringList names;
      const QModelIndex folder = model->index(work);
      for (int row = 0; row < model->rowCount(folder); ++row) {
        names << model->index(row, 0, folder).data().toString();
      }
      names.sort();
      return names;
    };
    QTRY_COMPARE(listed(), QStringList{"other.pel"});
    types->setFocus();
    QTest::keyClick(types, Qt::Key_Down);  // the user picks the second filter
    QTRY_COMPARE(listed(), (QStringList{"job", "notes.txt", "other.pel"}));
    dialog->hide();

    // A typed name without extension opens that file when it exists, else the
    // name with ".pel"; saving always gets the extension.
    const auto typed = [&](TShell::TFileDialogMode mode, const QString& name) {
      QTimer::singleShot(0, [&] {
        auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(shown);
        shown->setDirectory(work);
        shown->selectFile(name);
        static_cast<QDialog*>(shown)->accept();  // as the dialog's own button does
      });
      return TShell::AskSettingsFileName(nullptr, mode);
    };
    QCOMPARE(typed(TShell::TFileDialogMode::Open, "job"), work + "/job");
    QCOMPARE(typed(TShell::TFileDialogMode::Open, "other"), work + "/other.pel");
    QCOMPARE(typed(TShell::TFileDialogMode::Save, "new"), work + "/new.pel");
  }

  void typedTimeOutIsClampedOnOk() {
    WithOptionsDialog([](TForm_Option* dialog) {
      dialog->CSpinEdit_TimeOut->setFocus();
      dialog->CSpinEdit_TimeOut->selectAll();
      QTest::keyClicks(dialog->CSpinEdit_TimeOut, QStringLiteral("700000"));
      dialog->CSpinEdit_ProxyPort->setValue(70000);
      dialog->Button_OK->click();
    });
    QCOMPARE(Form->Settings.TimeOut, 600000);
    QCOMPARE(Form->Settings.ProxyPort, 65535);
  }

  void trustedCaFileIsChosenAndTakenOnOk() {
    const TShell::TCertificateFileFn saved = TShell::AskCertificateFile;
    QString offered;
    QString answer = QStringLiteral("/etc/pellora/社内CA.pem");
    TShell::AskCertificateFile = [&](QWidget*, const QString& current) {
      offered = current;
      return answer;
    };
    Form->Settings.TrustedCaFile = "/old/ca.pem";
    TForm_Option dialog(Form->Settings, Form->Model);
    QCOMPARE(dialog.Edit_CaFile->text(), QStringLiteral("/old/ca.pem"));
    dialog.Button_CaFile->click();
    QCOMPARE(offered, QStringLiteral("/old/ca.pem"));
    answer.clear();  // cancelled: the chosen file stays
    dialog.Button_CaFile->click();
    QCOMPARE(dialog.Edit_CaFile->text(), QStringLiteral("/etc/pellora/社内CA.pem"));
    QCOMPARE(Form->Settings.TrustedCaFile, std::string("/old/ca.pem"));
    dialog.Button_OK->click();
    QCOMPARE(Form->Settings.TrustedCaFile, std::string("/etc/pellora/社内CA.pem"));
    TShell::AskCertificateFile = saved;
  }

  void transferPageFillsClampsAndStores() {
    struct Row {
      const char* Name;
      TCSpinEdit* TForm_Option::*Field;
      int32_t TSettings::*Value;
      int32_t Stored, Minimum, Maximum;
      const char* Typed;
      int32_t Expected;
    };
    const Row rows[] = {
        {"Connections", &TForm_Option::CSpinEdit_Connections, &TSettings::Connections, 4, 1, 16,
         "99", 16},
        {"Retries", &TForm_Option::CSpinEdit_Retries, &TSettings::Retries, 3, 0, 10, "-2", 0},
        {"StopAfterMissing", &TForm_Option::CSpinEdit_StopAfterMissing,
         &TSettings::StopAfterMissing, 20, 0, INT32_MAX, "abc", 0},
        {"RequestInterval", &TForm_Option::CSpinEdit_RequestInterval, &TSettings::RequestInterval,
         1500, 0, 600000, "700000", 600000},
    };
    for (const Row& row : rows) Form->Settings.*row.Value = row.Stored;
    WithOptionsDialog([&](TForm_Option* dialog) {
      QCOMPARE(dialog->PageControl1->count(), 4);
      QCOMPARE(dialog->PageControl1->tabText(3), QStringLiteral("転送"));
      dialog->PageControl1->setCurrentIndex(3);
      for (const Row& row : rows) {
        TCSpinEdit* field = dialog->*row.Field;
        QVERIFY2(field->parentWidget() == dialog->TabSheet4, row.Name);
        QVERIFY2(field->value() == row.Stored, row.Name);
        QVERIFY2(field->minimum() == row.Minimum && field->maximum() == row.Maximum, row.Name);
        // Typed and not yet left: OK takes what the field reads.
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QString::fromLatin1(row.Typed));
      }
      dialog->Button_OK->click();
    });
    for (const Row& row : rows) {
      QVERIFY2(Form->Settings.*row.Value == row.Expected,
               qPrintable(QStringLiteral("%1 typed %2 stored %3")
                              .arg(row.Name, row.Typed)
                              .arg(Form->Settings.*row.Value)));
    }
  }

  void okAppliesTheLinksToTheToFields() {
    WithOptionsDialog([](TForm_Option* dialog) {
      dialog->CheckBox_NumSync->setChecked(false);
      dialog->Button_OK->click();
    });
    QVERIFY(Form->Edit_ToStart->isEnabled());
    QVERIFY(!Form->Edit_ToEnd->isEnabled());
    Form->Edit_ToStart->setText(QStringLiteral("50"));
    QCOMPARE(Form->Edit_ToEnd->text(), QStringLiteral("149"));

    WithOptionsDialog([](TForm_Option* dialog) {
      dialog->CheckBox_Pack->setChecked(true);
      dialog->Button_OK->click();
    });
    QVERIFY(Form->Edit_ToEnd->isEnabled());
    QVERIFY(Form->Label_PreEndTo->text().endsWith(QStringLiteral("（参考値）")));

    WithOptionsDialog([](TForm_Option* dialog) {
      dialog->CheckBox_NumSync->setChecked(true);
      dialog->CheckBox_AutoSlash->setChecked(false);
      dialog->Button_OK->click();
    });
    QCOMPARE(Form->Edit_ToStart->text(), Form->Edit_FromStart->text());
    QCOMPARE(Form->Edit_ToEnd->text(), Form->Edit_FromEnd->text());
    QVERIFY(!Form->Edit_ToStart->isEnabled());
    QVERIFY(!Form->Edit_ToEnd->isEnabled());
    Form->Edit_FromDir->setText(QStringLiteral("http://h.test/d"));
    QCOMPARE(Form->Label_PreStartFrom->text(), QStringLiteral("http://h.test/d1.html"));
  }

  void previewsAreRecomputedEvenAfterCancel() {
    Form->Edit_FromDir->setText(QStringLiteral("http://h.test/d"));
    Form->Settings.AutoSlash = false;  // changed behind the preview's back
    WithOptionsDialog([](TForm_Option* dialog) { dialog->reject(); });  // the close box
    QCOMPARE(Form->Label_PreStartFrom->text(), QStringLiteral("http://h.test/d1.html"));
    QCOMPARE(Form->Settings.AutoSlash, false);
  }

  void jobFilesSaveOpenAndDrop() {
    const QString first = Env->WorkDir() + "/first.pel";
    const QString second = Env->WorkDir() + "/second.pel";
    const TShell::TSettingsFileFn original = TShell::AskSettingsFileName;
    QString answer = first;
    TShell::AskSettingsFileName = [&](QWidget*, TShell::TFileDialogMode) { return answer; };

    Form->Edit_FromFile->setText(QStringLiteral("one???.jpg"));
    Form->S2->trigger();
    Form->Edit_FromFile->setText(QStringLiteral("two???.jpg"));
    Form->SaveSettingsFile(second);
    Form->Edit_FromFile->setText(QStringLiteral("other"));
    Form->Open1->trigger();
    QCOMPARE(Form->Edit_FromFile->text(), QStringLiteral("one???.jpg"));
    QCOMPARE(Form->Edit_ToFile->text(), QStringLiteral("one???.jpg"));

    Form->WMDropFiles({QUrl::fromLocalFile(second), QUrl::fromLocalFile(first)});
    QCOMPARE(Form->Edit_FromFile->text(), QStringLiteral("two???.jpg"));
    QVERIFY(Boxes->Records().isEmpty());

    answer = Env->WorkDir() + "/missing.pel";
    Form->Open1->trigger();
    QCOMPARE(Boxes->Records().size(), 1);
    QVERIFY(Boxes->Records()[0].Text.contains(answer));
    QCOMPARE(Boxes->Records()[0].Icon, TMsgIcon::Error);
    QCOMPARE(Form->Edit_FromFile->text(), QStringLiteral("two???.jpg"));
    TShell::AskSettingsFileName = original;
  }
};

QTEST_MAIN(OptionsDialogTest)
#include "test_options_dialog.moc"
