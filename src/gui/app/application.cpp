#include "gui/app/application.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

#include "gui/app/form_font.h"
#include "qtshared/qt_translation.h"

// The program's icon lives in the GUI library's resources, which a static library
// registers only when asked for by name, outside any namespace.
static void InitIconResources() {
  Q_INIT_RESOURCE(about);
}

namespace pellora {

void SetUpApplication(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("Pellora"));
  QApplication::setOrganizationName(QStringLiteral("Varnel"));
  // No display name: the platform would append it to every other window's title.
  QApplication::setFont(FormFont());
  InitIconResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/pellora/pellora.png")));
  InstallQtTranslation(app);
}

}  // namespace pellora
