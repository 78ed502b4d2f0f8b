#include "gui/app/shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "core/settings/settings_file.h"

namespace pellora {

TShell::TBrowseFn TShell::BrowseForFolder = [](QWidget* parent, const QString& title,
                                               const QString& preselected) {
  return QFileDialog::getExistingDirectory(parent, title, preselected, QFileDialog::ShowDirsOnly);
};

TShell::TOpenUrlFn TShell::OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

TShell::TSettingsFileFn TShell::AskSettingsFileName = [](QWidget* parent, TFileDialogMode mode) {
  QFileDialog dialog(parent);
  dialog.setNameFilters(
      {QStringLiteral("Pellora用設定ファイル(*.pel)"), QStringLiteral("全てのファイル(*.*)")});
  dialog.setDefaultSuffix(QString::fromLatin1(kSettingsFileExtension));
  if (mode == TFileDialogMode::Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);  // asks before overwriting
    dialog.setFileMode(QFileDialog::AnyFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist yet
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
};

TShell::TCertificateFileFn TShell::AskCertificateFile = [](QWidget* parent,
                                                           const QString& current) {
  return QFileDialog::getOpenFileName(
      parent, QStringLiteral("認証局の証明書ファイル"), current,
      QStringLiteral("証明書ファイル(*.pem *.crt *.cer);;全てのファイル(*)"));
};

QString FindHelpPage() {
  const QString page = QStringLiteral("manual/pehelp00.html");
  const QString appDir = QCoreApplication::applicationDirPath();
  const QStringList candidates{
      QDir::current().filePath(page),
      QDir(appDir).filePath(QStringLiteral("../" PELLORA_INSTALL_DATA_SUBDIR "/") + page),
      QDir(QStringLiteral(PELLORA_SOURCE_MANUAL_DIR)).filePath(QStringLiteral("pehelp00.html")),
  };
  for (const QString& candidate : candidates) {
    const QFileInfo info(candidate);
    if (info.isFile()) return info.absoluteFilePath();
  }
  return {};
}

}  // namespace pellora
