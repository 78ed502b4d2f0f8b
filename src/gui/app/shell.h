#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QFileDialog;
class QWidget;

namespace pellora {

// The desktop services the windows use: the folder browser and opening a page or
// mail address with the desktop's default handler. Tests replace them.
struct TShell {
  using TBrowseFn =
      std::function<QString(QWidget* parent, const QString& title, const QString& preselected)>;
  using TOpenUrlFn = std::function<bool(const QUrl& url)>;
  enum class TFileDialogMode { Open, Save };
  using TSettingsFileFn = std::function<QString(QWidget* parent, TFileDialogMode mode)>;
  using TCertificateFileFn = std::function<QString(QWidget* parent, const QString& current)>;

  // Returns the chosen folder, or an empty text when the user cancelled.
  static TBrowseFn BrowseForFolder;
  static TOpenUrlFn OpenUrl;
  // The open or save dialog for job files; empty when the user cancelled.
  static TSettingsFileFn AskSettingsFileName;
  // The open dialog for a file of CA certificates; empty when the user cancelled.
  static TCertificateFileFn AskCertificateFile;
};

// The open or save dialog for job files as AskSettingsFileName shows it.
std::unique_ptr<QFileDialog> NewSettingsFileDialog(QWidget* parent, TShell::TFileDialogMode mode);

// The help page "pehelp00.html" in the help folder of the program in
// `programDir`: <prefix>/share/pellora/manual for <prefix>/bin, a layout that the
// build tree repeats beside the built program. Nothing else is looked at, neither
// the current directory nor a folder named at build time. Empty when it is missing.
QString FindHelpPage(const QString& programDir);
// The same for the running program.
QString FindHelpPage();

}  // namespace pellora
