#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <exception>

#include "gui/app/form_font.h"
#include "gui/app/main_form.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pellora"));
  QApplication::setOrganizationName(QStringLiteral("Varnel"));
  QApplication::setApplicationDisplayName(QStringLiteral("Pellora"));
  QApplication::setFont(pellora::FormFont());
  Q_INIT_RESOURCE(about);  // the program's icon lives in the GUI library's resources
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/pellora/pellora.png")));
  try {
    pellora::TMainForm mainForm;
    mainForm.show();
    QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Pellora"), QString::fromLocal8Bit(e.what()));
  }
  // The program ends normally after a shown failure too.
  return 0;
}
