#pragma once

#include <QString>
#include <QUrl>

#include <functional>

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

// The help page: "manual/pehelp00.html" below the current directory, else the
// installed copy beside the program, else the one in the source tree. Empty when
// none exists.
QString FindHelpPage();

}  // namespace pellora
