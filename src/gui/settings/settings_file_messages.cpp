#include "gui/settings/settings_file_messages.h"

#include <cerrno>

#include "core/platform/file_system.h"
#include "core/settings/settings_file.h"

namespace pellora {

namespace {

QString Reason(int error) {
  if (error == EFBIG) {
    return QStringLiteral("設定ファイルとしては大きすぎます（%1 KiB まで）。")
        .arg(kMaxSettingsFileSize / 1024);
  }
  if (error == EINVAL) return QStringLiteral("通常のファイルではありません。");
  return QString::fromStdString(DescribeFileError(error));
}

QString Quoted(const std::string& path) {
  return "\"" + QString::fromStdString(path) + "\"";
}

}  // namespace

QString SettingsFileReadErrorText(const EFileError& error) {
  return QStringLiteral("設定ファイル %1 を読み込めませんでした。\n%2")
      .arg(Quoted(error.Path), Reason(error.Error));
}

QString SettingsFileWriteErrorText(const EFileError& error) {
  return QStringLiteral("設定ファイル %1 を保存できませんでした。\n%2")
      .arg(Quoted(error.Path), Reason(error.Error));
}

QString SettingsFileValueErrorText(const QString& path, const ESettingsValueError& error) {
  return QStringLiteral(
             "設定ファイル \"%1\" の %2 行目: %3 の値 \"%4\" が整数ではありません。\n"
             "この行から後は読み込まれていません。")
      // One pass: a "%2" in the file name or the value is shown as it is.
      .arg(path, QString::number(error.Line), QString::fromStdString(error.Key),
           QString::fromStdString(error.Value));
}

}  // namespace pellora
