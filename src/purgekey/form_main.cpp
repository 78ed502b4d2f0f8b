#include "purgekey/form_main.h"

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <utility>

#include "purgekey/purge_message_box.h"

namespace pellora {

namespace {

QString KeyText(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

QFont PurgeFormFont() {
  QFont font;
  // Families in order of preference; Qt takes the first one that is installed.
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                    QStringLiteral("IPAexGothic"), QStringLiteral("VL PGothic"),
                    QStringLiteral("sans-serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(9);
  return font;
}

TForm_Main::TForm_Main(TStoreRemoval store, QWidget* parent)
    : QDialog(parent), Store(std::move(store)) {
  setFont(PurgeFormFont());
  setWindowTitle(QStringLiteral("の設定削除（アンインストール時専用）"));
  setFixedSize(364, 58);

  Label1 = new QLabel(QStringLiteral("の設定をレジストリ内から削除しますか？"), this);
  Label1->setTextFormat(Qt::PlainText);
  Label1->setGeometry(8, 6, 348, 18);
  // Created in tab order: the default button first.
  Button_Finish = new QPushButton(QStringLiteral("削除しないで終了"), this);
  Button_Finish->setGeometry(236, 28, 120, 25);
  Button_Finish->setDefault(true);
  Button_Delete = new QPushButton(QStringLiteral("削除して終了"), this);
  Button_Delete->setGeometry(108, 28, 120, 25);
  Button_Finish->setFocus();

  connect(Button_Finish, &QPushButton::clicked, this, &TForm_Main::Button_FinishClick);
  connect(Button_Delete, &QPushButton::clicked, this, &TForm_Main::Button_DeleteClick);

  FormCreate();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TForm_Main::FormCreate() {
  ProductName = QString::fromLatin1(kProductKeyName);
  setWindowTitle(ProductName + windowTitle());
  Label1->setText(ProductName + Label1->text());
}

void TForm_Main::Button_FinishClick() {
  close();
}

void TForm_Main::Button_DeleteClick() {
  const QString settingsKey = KeyText(Store.SettingsKey());
  const QString question = QStringLiteral("一旦削除したキーは元には戻せません。\n本当に ") +
                           settingsKey +
                           QStringLiteral(" 以下のすべてのキーを削除していいですか？\n") +
                           QStringLiteral("（ここには、 ") + ProductName +
                           QStringLiteral(" のユーザーデータなどが保存されています）");
  if (ShowPurgeMessage({question, QStringLiteral("削除の確認"),
                        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok,
                        QMessageBox::Warning}) != QMessageBox::Ok) {
    return;
  }

  if (!Store.SettingsKeyExists()) {
    ShowPurgeMessage({settingsKey + QStringLiteral(" は、もともと存在しませんでした。"),
                      QStringLiteral("キーがありません"), QMessageBox::Ok, QMessageBox::Ok,
                      QMessageBox::Information});
    close();
    return;
  }

  if (!Store.DeleteSettingsKey()) {
    ShowPurgeMessage({settingsKey + QStringLiteral("以下のキーの削除に失敗しました。"),
                      QStringLiteral("削除失敗"), QMessageBox::Ok, QMessageBox::Ok,
                      QMessageBox::Critical});
    return;  // stays open: the user may try again or leave
  }

  ShowPurgeMessage({RemovalReport(settingsKey), QStringLiteral("削除完了"), QMessageBox::Ok,
                    QMessageBox::Ok, QMessageBox::Information});
  close();
}

QString TForm_Main::RemovalReport(const QString& settingsKey) const {
  QString report = settingsKey + QStringLiteral(" 以下のすべてのキーは削除されました。");
  // A maker's folder that could not be removed is simply not mentioned: what the
  // report says has happened.
  if (Store.RemoveMakerKeyIfEmpty() == TStoreRemoval::TMakerKeyOutcome::Deleted) {
    report += QStringLiteral("\nサブキーが無くなったので、ついでに ") + KeyText(Store.MakerKey()) +
              QStringLiteral(" も削除しました。");
  }
  return report;
}

}  // namespace pellora
