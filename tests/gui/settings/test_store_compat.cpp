#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "core/settings/ini_store.h"

using namespace pellora;

// The headless front-end reads the store that the window writes with Qt's settings
// writer: every kind of text must come back unchanged.
class StoreCompatTest : public QObject {
  Q_OBJECT

 private slots:
  void textsWrittenByQtReadBackUnchanged() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Pellora.conf");
    const QStringList texts{"http://例え.jp/写真/",
                            " leading and trailing ",
                            "a,b;c=d",
                            "quote \" backslash \\",
                            "@at sign",
                            "tab\tnewline\ncr\r",
                            "",
                            "無制限",
                            "100",
                            "-5",
                            "x#y",
                            "ends with \\"};
    {
      QSettings store(path, QSettings::IniFormat);
      for (int i = 0; i < texts.size(); ++i) store.setValue(QString("Text%1").arg(i), texts[i]);
      store.setValue("Mail-Address", "me@test");
      store.setValue("TimeOut", 2500);
    }
    const TIniStoreReader reader = TIniStoreReader::FromFile(path.toStdString());
    for (int i = 0; i < texts.size(); ++i) {
      const auto value = reader.ReadText("Text" + std::to_string(i));
      QVERIFY2(value.has_value(), qPrintable(texts[i]));
      QCOMPARE(QString::fromStdString(*value), texts[i]);
    }
    QCOMPARE(reader.ReadText("Mail-Address").value_or(""), std::string("me@test"));
    QCOMPARE(reader.ReadText("TimeOut").value_or(""), std::string("2500"));
    QVERIFY(!reader.ReadText("Absent").has_value());
  }
};

QTEST_MAIN(StoreCompatTest)
#include "test_store_compat.moc"
