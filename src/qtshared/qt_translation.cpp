#include "qtshared/qt_translation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace pellora {

bool InstallQtTranslation(QCoreApplication& app) {
  // Japanese whatever the user's locale is: the program's own texts are Japanese.
  const QLocale japanese(QLocale::Japanese, QLocale::Japan);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  auto* translator = new QTranslator(&app);
  if (!translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    std::fprintf(stderr, "%s: Qt's Japanese translation (qtbase_ja.qm) is missing in %s\n",
                 qPrintable(QFileInfo(QCoreApplication::applicationFilePath()).fileName()),
                 qPrintable(folder));
    return false;
  }
  return true;
}

}  // namespace pellora
