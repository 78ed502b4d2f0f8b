#include "gui/settings/settings_file_messages.h"

#include "core/platform/file_system.h"
#include "core/settings/settings_file.h"

namespace pellora {

QString SettingsFileReadErrorText(const EFileError& error) {
  return QString::fromStdString(DescribeSettingsFileReadError(error));
}

QString SettingsFileWriteErrorText(const EFileError& error) {
  return QString::fromStdString(DescribeSettingsFileWriteError(error));
}

QString SettingsFileValueErrorText(const QString& path, const ESettingsValueError& error) {
  return QString::fromStdString(DescribeSettingsValueError(path.toStdString(), error));
}

}  // namespace pellora
