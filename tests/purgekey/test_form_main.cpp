#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "purgekey/form_main.h"
#include "purgekey/purge_message_box.h"

using namespace pellora;

class FormMainTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> Dir;
  std::unique_ptr<TPurgeMessageRecorder> Boxes;
  QByteArray OldConfigHome;

  QString Config() const { return Dir->filePath(QStringLiteral("config")); }
  QString Maker() const { return Config() + QStringLiteral("/Varnel"); }
  QString Store() const { return Maker() + QStringLiteral("/Pellora.conf"); }

  static void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nFromDir=http://www.example.jp/\n");
  }

  // The form as purgekey shows it, on the store of this test's config folder.
  std::unique_ptr<TForm_Main> NewForm() {
    auto form = std::make_unique<TForm_Main>();
    form->show();
    return form;
  }

  QString Confirmation() const {
    return QStringLiteral("一旦削除したキーは元には戻せません。\n本当に ") + Store() +
           QStringLiteral(
               " 以下のすべてのキーを削除していいですか？\n（ここには、 Pellora "
               "のユーザーデータなどが保存されています）");
  }

  void ExpectConfirmation(const TPurgeMessage& box) const {
    QCOMPARE(box.Text, Confirmation());
    QCOMPARE(box.Caption, QStringLiteral("削除の確認"));
    QCOMPARE(box.Buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.DefaultButton, QMessageBox::Ok);
    QCOMPARE(box.Icon, QMessageBox::Warning);
  }

  void ExpectBox(const TPurgeMessage& box, const QString& text, const QString& caption,
                 QMessageBox::Icon icon) const {
    QCOMPARE(box.Text, text);
    QCOMPARE(box.Caption, caption);
    QCOMPARE(box.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.Icon, icon);
  }

 private slots:
  void init() {
    Dir = std::make_unique<QTemporaryDir>();
    QDir().mkpath(Config());
    OldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", Config().toUtf8());
    Boxes = std::make_unique<TPurgeMessageRecorder>();
  }
  void cleanup() {
    Boxes.reset();
    qputenv("XDG_CONFIG_HOME", OldConfigHome);
    Dir.reset();
  }

  void textsCarryTheProductName() {
    auto form = NewForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("Pelloraの設定削除（アンインストール時専用）"));
    QCOMPARE(form->Label1->text(), QStringLiteral("Pelloraの設定をレジストリ内から削除しますか？"));
    QCOMPARE(form->Button_Delete->text(), QStringLiteral("削除して終了"));
    QCOMPARE(form->Button_Finish->text(), QStringLiteral("削除しないで終了"));
    QCOMPARE(form->size(), QSize(364, 58));
    // Everything fits in the window, nothing overlaps.
    const QList<QWidget*> controls{form->Label1, form->Button_Delete, form->Button_Finish};
    for (QWidget* control : controls) {
      QVERIFY(form->rect().contains(control->geometry()));
      QVERIFY(control->width() >= control->sizeHint().width());
      for (QWidget* other : controls) {
        if (other != control) QVERIFY(!control->geometry().intersects(other->geometry()));
      }
    }
  }

  void enterExitsWithoutDeleting() {
    Touch(Store());
    auto form = NewForm();
    QVERIFY(form->Button_Finish->isDefault());
    QCOMPARE(form->Button_Finish->nextInFocusChain(), form->Button_Delete);
    QTest::keyClick(form.get(), Qt::Key_Return);
    QVERIFY(!form->isVisible());
    QVERIFY(Boxes->Records().isEmpty());
    QVERIFY(QFile::exists(Store()));
  }

  void deletesStoreAndEmptiedMakerFolder() {
    Touch(Store());
    auto form = NewForm();
    form->Button_Delete->click();
    QCOMPARE(Boxes->Records().size(), 2);
    ExpectConfirmation(Boxes->Records()[0]);
    ExpectBox(Boxes->Records()[1],
              Store() +
                  QStringLiteral(" 以下のすべてのキーは削除されました。\nサブキーが無く"
                                 "なったので、ついでに ") +
                  Maker() + QStringLiteral(" も削除しました。"),
              QStringLiteral("削除完了"), QMessageBox::Information);
    QVERIFY(!QFileInfo::exists(Store()));
    QVERIFY(!QFileInfo::exists(Maker()));
    QVERIFY(QFileInfo::exists(Config()));
    QVERIFY(!form->isVisible());
  }

  void keepsAnotherProductBesideIt() {
    Touch(Store());
    Touch(Maker() + QStringLiteral("/Other.conf"));
    auto form = NewForm();
    form->Button_Delete->click();
    QCOMPARE(Boxes->Records().size(), 2);
    ExpectBox(Boxes->Records()[1],
              Store() + QStringLiteral(" 以下のすべてのキーは削除されました。"),
              QStringLiteral("削除完了"), QMessageBox::Information);
    QVERIFY(!QFileInfo::exists(Store()));
    QVERIFY(QFileInfo::exists(Maker() + QStringLiteral("/Other.conf")));
    QVERIFY(!form->isVisible());
  }

  void linkedMakerFolderIsFollowedAndKept() {
    // The maker's folder links to where the user keeps configuration files.
    const QString linked = Dir->filePath(QStringLiteral("dotfiles/Varnel"));
    Touch(linked + QStringLiteral("/Pellora.conf"));
    QVERIFY(QFile::link(linked, Maker()));
    auto form = NewForm();
    form->Button_Delete->click();
    QCOMPARE(Boxes->Records().size(), 2);
    ExpectBox(Boxes->Records()[1],
              Store() + QStringLiteral(" 以下のすべてのキーは削除されました。"),
              QStringLiteral("削除完了"), QMessageBox::Information);
    QVERIFY(!QFileInfo::exists(linked + QStringLiteral("/Pellora.conf")));
    QVERIFY(QFileInfo(Maker()).isSymLink());
    QVERIFY(QFileInfo(linked).isDir());
    QVERIFY(!form->isVisible());
  }

  void absentKeyIsReportedAndNothingIsCreated() {
    auto form = NewForm();
    form->Button_Delete->click();
    QCOMPARE(Boxes->Records().size(), 2);
    ExpectBox(Boxes->Records()[1], Store() + QStringLiteral(" は、もともと存在しませんでした。"),
              QStringLiteral("キーがありません"), QMessageBox::Information);
    QVERIFY(!QFileInfo::exists(Maker()));
    QVERIFY(!form->isVisible());
  }

  void cancelChangesNothing() {
    Touch(Store());
    auto form = NewForm();
    Boxes->QueueAnswer(QMessageBox::Cancel);
    form->Button_Delete->click();
    QCOMPARE(Boxes->Records().size(), 1);
    ExpectConfirmation(Boxes->Records()[0]);
    QVERIFY(QFileInfo::exists(Store()));
    QVERIFY(form->isVisible());
  }

  void failedDeletionKeepsTheDialogOpen() {
    // A folder in the store's place cannot be deleted as a store.
    Touch(Store() + QStringLiteral("/data"));
    auto form = NewForm();
    form->Button_Delete->click();
    QCOMPARE(Boxes->Records().size(), 2);
    ExpectBox(Boxes->Records()[1], Store() + QStringLiteral("以下のキーの削除に失敗しました。"),
              QStringLiteral("削除失敗"), QMessageBox::Critical);
    QVERIFY(QFileInfo::exists(Store() + QStringLiteral("/data")));
    QVERIFY(form->isVisible());

    // Once the obstacle is gone, trying again succeeds.
    QDir(Store()).removeRecursively();
    Touch(Store());
    form->Button_Delete->click();
    QCOMPARE(Boxes->Records().size(), 4);
    QCOMPARE(Boxes->Records()[3].Caption, QStringLiteral("削除完了"));
    QVERIFY(!QFileInfo::exists(Maker()));
    QVERIFY(!form->isVisible());
  }
};

QTEST_MAIN(FormMainTest)
#include "test_form_main.moc"
