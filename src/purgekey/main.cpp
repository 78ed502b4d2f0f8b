#include <QApplication>
#include <QMessageBox>

#include <exception>

#include "purgekey/form_main.h"
#include "purgekey/purge_message_box.h"
#include "qtshared/qt_translation.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("レジストリの削除"));
  QApplication::setFont(pellora::PurgeFormFont());
  pellora::InstallQtTranslation(app);
  try {
    pellora::TForm_Main form;
    form.exec();
  } catch (const std::exception& e) {
    pellora::ShowPurgeMessage({QString::fromLocal8Bit(e.what()), QApplication::applicationName(),
                               QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Critical});
  }
  // The exit code carries no result.
  return 0;
}
