#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "gui/app/application.h"

using namespace pellora;

class ApplicationTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    SetUpApplication(static_cast<QApplication&>(*QCoreApplication::instance()));
  }

  void windowTitlesAreNotExtended() {
    // A display name, once set, is appended by the platform to every window title
    // that does not end in it ("オプション — Pellora"); none may be set.
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Pellora"));
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    QCoreApplication::setApplicationName(QStringLiteral("Pellora"));
  }

  void toolkitTextsAreJapanese() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("はい(&Y)"));
    QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("いいえ(&N)"));
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));

    QFileDialog save;
    save.setAcceptMode(QFileDialog::AcceptSave);
    QCOMPARE(save.windowTitle(), QStringLiteral("名前を付けて保存"));
    auto* lookIn = save.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    QVERIFY(lookIn);
    QVERIFY2(!lookIn->text().contains(QStringLiteral("Look")), qPrintable(lookIn->text()));
  }
};

QTEST_MAIN(ApplicationTest)
#include "test_application.moc"
