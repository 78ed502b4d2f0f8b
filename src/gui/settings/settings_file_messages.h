#pragma once

#include <QString>

namespace pellora {

class EFileError;
class ESettingsValueError;

inline const QString kSettingsFileCaption = QStringLiteral("設定ファイル");

// Messages for a job file that could not be read or written, naming the file and
// the reason.
QString SettingsFileReadErrorText(const EFileError& error);
QString SettingsFileWriteErrorText(const EFileError& error);
QString SettingsFileValueErrorText(const QString& path, const ESettingsValueError& error);

}  // namespace pellora
