#include "core/settings/settings_keys.h"

#include <algorithm>

#include "core/sequence/int_conversion.h"

namespace pellora {

namespace {

using TFlag = bool TSettings::*;
using TInteger = int32_t TSettings::*;
using TText = std::string TSettings::*;

// Job-file key, store value name, where the value lives, what it means.
constexpr TSettingKey kKeys[] = {
    {"St_SyncFileName", "FileSync", &TSettings::FileSync,
     "the To file-name pattern follows Fr_FileName"},
    {"St_SyncNumRange", "NumSync", &TSettings::NumSync,
     "the To start and end follow Fr_StartPoint and Fr_EndPoint"},
    {"St_AddSlash", "AutoSlash", &TSettings::AutoSlash,
     "append a / to Fr_BaseDir when it does not end in one"},
    {"St_SkipIfExist", "NotLoadIfExist", &TSettings::NotLoadIfExist,
     "skip numbers whose local file already exists, without a request"},
    {"St_ShowCaution", "ShowCaution", &TSettings::ShowCaution,
     "ask what to do when a remote file is missing"},
    {"St_NumberPack", "NumPack", &TSettings::NumPack,
     "a missing file uses up no local number (local numbers are closed up)"},
    {"St_SaveErrMsg", "SaveErrorMessage", &TSettings::SaveErrorMessage,
     "store the server's error page under the local name of a missing file"},
    {"St_TimeOut", "TimeOut", &TSettings::TimeOut,
     "time-out of each network wait in milliseconds (0: none)"},
    {"St_UseProxy", "UseProxyServer", &TSettings::UseProxyServer,
     "send the requests through St_ProxyServer and St_ProxyPort"},
    {"St_ProxyServer", "ProxyServer", &TSettings::ProxyServer, "proxy host"},
    {"St_ProxyPort", "ProxyPort", &TSettings::ProxyPort, "proxy port"},
    {"St_RequireAuth", "RequireAuthorization", &TSettings::RequireAuthorization,
     "send Basic authorization with St_UserID and St_Password"},
    {"St_UserID", "UserID", &TSettings::UserID, "user name for Basic authorization"},
    {"St_SavePassword", "PasswordSaving", &TSettings::PasswordSaving,
     "keep St_Password when the job is saved"},
    {"St_Password", "Password", &TSettings::Password, "password for Basic authorization"},
    {"St_HeaderAgent", "Agent", &TSettings::Agent, "text of the User-Agent request header"},
    {"St_HeaderReferer", "Referer", &TSettings::Referer,
     "text of the Referer request header (empty: none sent)"},
    {"St_HeaderMailAddr", "Mail-Address", &TSettings::MailAddress,
     "mail address sent as the From request header (empty: none sent)"},
    {"St_TrustedCaFile", "TrustedCaFile", &TSettings::TrustedCaFile,
     "PEM file of CA certificates trusted for https besides the system's (empty: none)"},
    {"St_Connections", "Connections", &TSettings::Connections,
     "files fetched at the same time, each over its own connection (1 to 16)", 1, 16},
    {"St_Retries", "Retries", &TSettings::Retries,
     "further tries of a file after a network failure, a 5xx or a 429 reply (0 to 10)", 0, 10},
    {"St_StopAfterMissing", "StopAfterMissing", &TSettings::StopAfterMissing,
     "end the run normally after this many missing files in a row (0: never)", 0, INT32_MAX},
    {"St_RequestInterval", "RequestInterval", &TSettings::RequestInterval,
     "least milliseconds between the starts of two requests (0 to 600000)", 0, 600000},
    {"Fr_BaseDir", "FromDir", TFieldId::FromDir, "remote base directory (URL)"},
    {"Fr_FileName", "FromFile", TFieldId::FromFile,
     "remote file-name pattern: ? a digit of the zero-padded number, * the whole number"},
    {"Fr_StartPoint", "FromStart", TFieldId::FromStart, "first remote number"},
    {"Fr_EndPoint", "FromEnd", TFieldId::FromEnd, "last remote number"},
    {"Fr_Max", "FromMax", TFieldId::FromMax,
     "remote files per numbered folder (無制限: no folders)"},
    {"Fr_Depth", "FromDepth", TSide::From,
     "levels of remote numbered folders (0 to 127, at least what Fr_EndPoint needs)"},
    {"To_BaseDir", "ToDir", TFieldId::ToDir, "local base folder"},
    {"To_FileName", "ToFile", TFieldId::ToFile, "local file-name pattern, as Fr_FileName"},
    {"To_StartPoint", "ToStart", TFieldId::ToStart, "local number of the first file stored"},
    {"To_EndPoint", "ToEnd", TFieldId::ToEnd,
     "last local number (follows the ranges unless St_NumberPack is on)"},
    {"To_Max", "ToMax", TFieldId::ToMax, "local files per numbered folder (無制限: no folders)"},
    {"To_Depth", "ToDepth", TSide::To,
     "levels of local numbered folders (0 to 127, at least what To_EndPoint needs)"},
};

struct TKindOf {
  TSettingKind operator()(TFlag) const { return TSettingKind::Flag; }
  TSettingKind operator()(TInteger) const { return TSettingKind::Integer; }
  TSettingKind operator()(TText) const { return TSettingKind::Text; }
  TSettingKind operator()(TFieldId) const { return TSettingKind::Text; }
  TSettingKind operator()(TSide) const { return TSettingKind::Integer; }
};

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

TSettingKind TSettingKey::Kind() const {
  return std::visit(TKindOf{}, Target);
}

std::span<const TSettingKey> SettingKeys() {
  return kKeys;
}

const TSettingKey* FindSettingKey(std::string_view name) {
  for (const TSettingKey& key : kKeys) {
    if (name == key.Name) return &key;
  }
  return nullptr;
}

std::string SettingValue(const TSettingKey& key, const TSettings& settings,
                         const TSequenceModel& model) {
  return std::visit(TValueWriter{settings, model}, key.Target);
}

void ApplySettingValue(const TSettingKey& key, std::string_view value, TSettings& settings,
                       TSequenceModel& model) {
  std::visit(TValueReader{settings, model, value}, key.Target);
  ClampToRange(key, settings);
}

void ClampToRange(const TSettingKey& key, TSettings& settings) {
  if (const auto* integer = std::get_if<TInteger>(&key.Target)) {
    settings.** integer = std::clamp(settings.**integer, key.Minimum, key.Maximum);
  }
}

}  // namespace pellora
