#include <QApplication>
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
