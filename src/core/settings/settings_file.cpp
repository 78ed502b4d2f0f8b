#include "core/settings/settings_file.h"

#include <variant>

#include "core/platform/file_system.h"
#include "core/platform/text_codec.h"

namespace pellora {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

using TFlag = bool TSettings::*;
using TInteger = int32_t TSettings::*;
using TText = std::string TSettings::*;
using TTarget = std::variant<TFlag, TInteger, TText, TFieldId, TSide>;

struct TKey {
  const char* Name;
  TTarget Target;
};

// Every key in the order the writer puts them.
const TKey kKeys[] = {
    {"St_SyncFileName", &TSettings::FileSync},
    {"St_SyncNumRange", &TSettings::NumSync},
    {"St_AddSlash", &TSettings::AutoSlash},
    {"St_SkipIfExist", &TSettings::NotLoadIfExist},
    {"St_ShowCaution", &TSettings::ShowCaution},
    {"St_NumberPack", &TSettings::NumPack},
    {"St_SaveErrMsg", &TSettings::SaveErrorMessage},
    {"St_TimeOut", &TSettings::TimeOut},
    {"St_UseProxy", &TSettings::UseProxyServer},
    {"St_ProxyServer", &TSettings::ProxyServer},
    {"St_ProxyPort", &TSettings::ProxyPort},
    {"St_RequireAuth", &TSettings::RequireAuthorization},
    {"St_UserID", &TSettings::UserID},
    {"St_SavePassword", &TSettings::PasswordSaving},
    {"St_Password", &TSettings::Password},
    {"St_HeaderAgent", &TSettings::Agent},
    {"St_HeaderReferer", &TSettings::Referer},
    {"St_HeaderMailAddr", &TSettings::MailAddress},
    {"Fr_BaseDir", TFieldId::FromDir},
    {"Fr_FileName", TFieldId::FromFile},
    {"Fr_StartPoint", TFieldId::FromStart},
    {"Fr_EndPoint", TFieldId::FromEnd},
    {"Fr_Max", TFieldId::FromMax},
    {"Fr_Depth", TSide::From},
    {"To_BaseDir", TFieldId::ToDir},
    {"To_FileName", TFieldId::ToFile},
    {"To_StartPoint", TFieldId::ToStart},
    {"To_EndPoint", TFieldId::ToEnd},
    {"To_Max", TFieldId::ToMax},
    {"To_Depth", TSide::To},
};

// Blanks and control characters, as the trimming of a key or value counts them.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Overloads picked by the kind of the key's target.
struct TValueWriter {
  const TSettings& Settings;
  const TSequenceModel& Model;
  std::string operator()(TFlag flag) const { return Settings.*flag ? "true" : "false"; }
  std::string operator()(TInteger integer) const { return IntToStr(Settings.*integer); }
  std::string operator()(TText text) const {
    if (text == &TSettings::Password && !Settings.PasswordSaving) return {};
    return Settings.*text;
  }
  std::string operator()(TFieldId field) const { return Model.Text(field); }
  std::string operator()(TSide side) const { return IntToStr(Model.Depth(side)); }
};

struct TValueReader {
  TSettings& Settings;
  TSequenceModel& Model;
  std::string_view Value;
  void operator()(TFlag flag) const {
    if (Value == "true") Settings.*flag = true;
    if (Value == "false") Settings.*flag = false;
  }
  void operator()(TInteger integer) const { Settings.*integer = StrToInt(Value); }
  void operator()(TText text) const { Settings.*text = std::string(Value); }
  void operator()(TFieldId field) const { Model.SetText(field, std::string(Value)); }
  void operator()(TSide side) const { Model.SetDepth(side, StrToInt(Value)); }
};

}  // namespace

ESettingsValueError::ESettingsValueError(size_t line, std::string key, std::string value)
    : EConvertError("line " + std::to_string(line) + ": the value '" + value + "' of " + key +
                    " is not an integer"),
      Line(line),
      Key(std::move(key)),
      Value(std::move(value)) {}

std::string MakeSettingsFileText(const TSettings& settings, const TSequenceModel& model) {
  const TValueWriter writer{settings, model};
  std::string text = std::string(kSettingsFileHeader) + "\r\nSetType = SN\r\n";
  for (const TKey& key : kKeys) {
    text += key.Name;
    text += " = ";
    text += std::visit(writer, key.Target);
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

bool ApplySettingsLine(std::string_view line, TSettings& settings, TSequenceModel& model) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string_view name = Trim(line.substr(0, equals));
  const std::string_view value = Trim(line.substr(equals + 1));
  for (const TKey& key : kKeys) {
    if (name == key.Name) {
      std::visit(TValueReader{settings, model, value}, key.Target);
      return true;
    }
  }
  return false;
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
      const std::string_view line = lines[i];
      const size_t equals = line.find('=');
      throw ESettingsValueError(i + 1, std::string(Trim(line.substr(0, equals))),
                                std::string(Trim(line.substr(equals + 1))));
    }
  }
}

}  // namespace pellora
