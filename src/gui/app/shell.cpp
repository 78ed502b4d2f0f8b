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

std::unique_ptr<QFileDialog> NewSettingsFileDialog(QWidget* parent, TShell::TFileDialogMode mode) {
  auto dialog = std::make_unique<QFileDialog>(parent);
  // Each filter is its caption, then the patterns it stands for; only the caption
  // is shown. "*.*" means every file, also one without an extension.
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilters({QStringLiteral("Pellora用設定ファイル(*.pel) (*.pel)"),
                          QStringLiteral("全てのファイル(*.*) (*)")});
  dialog->setFileMode(QFileDialog::AnyFile);  // a typed name need not exist yet
  if (mode == TShell::TFileDialogMode::Save) {
    dialog->setAcceptMode(QFileDialog::AcceptSave);  // asks before overwriting
    dialog->setDefaultSuffix(QString::fromLatin1(kSettingsFileExtension));
  } else {
    // The extension is added afterwards, and only when no file has the typed name.
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
  }
  return dialog;
}

TShell::TSettingsFileFn TShell::AskSettingsFileName = [](QWidget* parent, TFileDialogMode mode) {
  const auto dialog = NewSettingsFileDialog(parent, mode);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return QString();
  const QString chosen = dialog->selectedFiles().constFirst();
  if (mode == TFileDialogMode::Save) return chosen;
  return QString::fromStdString(SettingsFileToOpen(chosen.toStdString()));
};

TShell::TCertificateFileFn TShell::AskCertificateFile = [](QWidget* parent,
                                                           const QString& current) {
  return QFileDialog::getOpenFileName(
      parent, QStringLiteral("認証局の証明書ファイル"), current,
      QStringLiteral("証明書ファイル(*.pem *.crt *.cer);;全てのファイル(*)"));
};

QString FindHelpPage(const QString& programDir) {
  const QFileInfo page(
      QDir(programDir).filePath(QStringLiteral(PELLORA_MANUAL_FROM_PROGRAM "/pehelp00.html")));
  return page.isFile() ? page.absoluteFilePath() : QString();
}

QString FindHelpPage() {
  return FindHelpPage(QCoreApplication::applicationDirPath());
}

}  // namespace pellora
