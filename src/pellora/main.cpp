#include <QApplication>
#include <QMessageBox>

#include <exception>

#include "gui/app/application.h"
#include "gui/app/main_form.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  pellora::SetUpApplication(app);
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
