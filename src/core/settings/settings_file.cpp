#include "core/settings/settings_file.h"

#include <cerrno>

#include "core/platform/file_system.h"
#include "core/platform/text_codec.h"
#include "core/settings/settings_keys.h"

namespace pellora {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Blanks and control characters, as the trimming of a key or value counts them.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

ESettingsValueError::ESettingsValueError(size_t line, std::string key, std::string value)
    : EConvertError("line " + std::to_string(line) + ": the value '" + value + "' of " + key +
                    " is not an integer"),
      Line(line),
      Key(std::move(key)),
      Value(std::move(value)) {}

std::string MakeSettingsFileText(const TSettings& settings, const TSequenceModel& model) {
  std::string text = std::string(kSettingsFileHeader) + "\r\nSetType = SN\r\n";
  for (const TSettingKey& key : SettingKeys()) {
    text += key.Name;
    text += " = ";
    text += SettingValue(key, settings, model);
    text += "\r\n";
  }
  return text;
}

std::string EncodeSettingsFile(std::string_view text) {
  if (std::optional<std::string> cp932 = Utf8ToCp932(text)) return *cp932;
  return std::string(kUtf8Bom) + std::string(text);
}

std::string DecodeSettingsFile(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) return std::string(bytes.substr(kUtf8Bom.size()));
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp932ToUtf8(bytes);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::optional<TSettingsLine> SplitSettingsLine(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return TSettingsLine{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

bool ApplySettingsLine(std::string_view line, TSettings& settings, TSequenceModel& model) {
  const std::optional<TSettingsLine> parts = SplitSettingsLine(line);
  const TSettingKey* key = parts ? FindSettingKey(parts->Key) : nullptr;
  if (key) ApplySettingValue(*key, parts->Value, settings, model);
  return key != nullptr;
}

void SaveSettingsFile(const std::string& path, const TSettings& settings,
                      const TSequenceModel& model) {
  const std::string bytes = EncodeSettingsFile(MakeSettingsFileText(settings, model));
  // A file that holds a password is kept from other users.
  const bool holdsPassword = settings.PasswordSaving && !settings.Password.empty();
  WriteFileAtomically(path, bytes, holdsPassword);
}

std::string SettingsFileToOpen(const std::string& typed) {
  const size_t slash = typed.rfind('/');
  const std::string_view name = slash == std::string::npos
                                    ? std::string_view(typed)
                                    : std::string_view(typed).substr(slash + 1);
  if (name.empty() || name.find('.') != std::string_view::npos || PathExists(typed)) return typed;
  return typed + "." + kSettingsFileExtension;
}

void LoadSettingsFile(const std::string& path, TSettings& settings, TSequenceModel& model) {
  const std::vector<std::string> lines =
      SplitLines(DecodeSettingsFile(ReadSmallFile(path, kMaxSettingsFileSize)));
  for (size_t i = 0; i < lines.size(); ++i) {
    try {
      ApplySettingsLine(lines[i], settings, model);
    } catch (const EConvertError&) {
      const TSettingsLine parts = *SplitSettingsLine(lines[i]);
      throw ESettingsValueError(i + 1, std::string(parts.Key), std::string(parts.Value));
    }
  }
}

namespace {

std::string SettingsFileReason(int error) {
  if (error == EFBIG) {
    return "設定ファイルとしては大きすぎます（" + std::to_string(kMaxSettingsFileSize / 1024) +
           " KiB まで）。";
  }
  if (error == EINVAL) return "通常のファイルではありません。";
  return DescribeFileError(error);
}

}  // namespace

std::string DescribeSettingsFileReadError(const EFileError& error) {
  return "設定ファイル \"" + error.Path + "\" を読み込めませんでした。\n" +
         SettingsFileReason(error.Error);
}

std::string DescribeSettingsFileWriteError(const EFileError& error) {
  return "設定ファイル \"" + error.Path + "\" を保存できませんでした。\n" +
         SettingsFileReason(error.Error);
}

std::string DescribeSettingsValueError(const std::string& path, const ESettingsValueError& error) {
  return "設定ファイル \"" + path + "\" の " + std::to_string(error.Line) + " 行目: " + error.Key +
         " の値 \"" + error.Value +
         "\" が整数ではありません。\nこの行から後は読み込まれていません。";
}

}  // namespace pellora
