#include "gui/download/retry_note.h"

namespace pellora {

namespace {

// The last part of a URL's path, which is what tells numbered files apart.
std::string FileNameOf(const std::string& url) {
  const size_t slash = url.find_last_of('/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}

}  // namespace

QString RetryNoteText(const TRetryNotice& notice, const std::string& currentUrl) {
  // Whole seconds, rounded up: a pause of 0.5 s is not "0 秒後".
  const long long seconds = notice.DelayMs > 0 ? (notice.DelayMs + 999) / 1000 : 0;
  const QString which = notice.Url == currentUrl ? QString()
                                                 : QString::fromStdString(FileNameOf(notice.Url)) +
                                                       QStringLiteral(" を");
  // One pass: a "%2" in a file name stays as it is.
  return QStringLiteral("（%1再試行 %2/%3、%4 秒後）")
      .arg(which, QString::number(notice.Attempt), QString::number(notice.Attempts),
           QString::number(seconds));
}

}  // namespace pellora
