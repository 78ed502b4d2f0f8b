#include "core/settings/registry_settings.h"

#include "core/sequence/int_conversion.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"

namespace pellora {

namespace {

struct TFieldValue {
  const char* Name;
  TFieldId Field;
};

constexpr TFieldValue kFromFields[] = {{"FromDir", TFieldId::FromDir},
                                       {"FromFile", TFieldId::FromFile},
                                       {"FromStart", TFieldId::FromStart},
                                       {"FromEnd", TFieldId::FromEnd},
                                       {"FromMax", TFieldId::FromMax}};
constexpr TFieldValue kToFields[] = {{"ToDir", TFieldId::ToDir},
                                     {"ToFile", TFieldId::ToFile},
                                     {"ToStart", TFieldId::ToStart},
                                     {"ToEnd", TFieldId::ToEnd},
                                     {"ToMax", TFieldId::ToMax}};

class TReader {
 public:
  explicit TReader(const TSettingsStore& store) : Store(store) {}

  void Text(const char* name, std::string& target) const {
    if (auto value = Store.ReadText(name)) target = *value;
  }
  bool Integer(const char* name, int32_t& target) const {
    const auto text = Store.ReadText(name);
    if (!text) return false;
    const auto value = TryStrToInt(*text);
    if (value) target = *value;
    return value.has_value();
  }
  void Flag(const char* name, bool& target) const {
    int32_t value = 0;
    if (Integer(name, value)) target = value != 0;
  }
  void Side(const TFieldValue (&fields)[5], const char* depthName, TSide side,
            TSequenceModel& model) const {
    for (const TFieldValue& field : fields) {
      if (auto value = Store.ReadText(field.Name)) model.SetText(field.Field, *value);
    }
    int32_t depth = 0;
    if (Integer(depthName, depth)) model.SetDepth(side, depth);
  }

 private:
  const TSettingsStore& Store;
};

void WriteSide(TSettingsStore& store, const TFieldValue (&fields)[5], const char* depthName,
               TSide side, const TSequenceModel& model) {
  for (const TFieldValue& field : fields) store.WriteText(field.Name, model.Text(field.Field));
  store.WriteInteger(depthName, model.Depth(side));
}

}  // namespace

void LoadRegistrySettings(const TSettingsStore& store, TSettings& settings, TSequenceModel& model) {
  const TReader read(store);
  // The options come before the fields: setting a field runs the link rules, and
  // with the default options they would overwrite a To end typed under NumPack.
  read.Flag("FileSync", settings.FileSync);
  read.Flag("NumSync", settings.NumSync);
  read.Flag("ShowCaution", settings.ShowCaution);
  read.Flag("NumPack", settings.NumPack);
  read.Flag("SaveErrorMessage", settings.SaveErrorMessage);
  read.Flag("AutoSlash", settings.AutoSlash);
  read.Flag("NotLoadIfExist", settings.NotLoadIfExist);
  read.Integer("TimeOut", settings.TimeOut);
  read.Flag("UseProxyServer", settings.UseProxyServer);
  read.Text("ProxyServer", settings.ProxyServer);
  read.Integer("ProxyPort", settings.ProxyPort);
  read.Flag("RequireAuthorization", settings.RequireAuthorization);
  read.Text("UserID", settings.UserID);
  read.Text("Password", settings.Password);
  read.Flag("PasswordSaving", settings.PasswordSaving);
  read.Text("Agent", settings.Agent);
  read.Text("Referer", settings.Referer);
  read.Text("Mail-Address", settings.MailAddress);
  read.Side(kFromFields, "FromDepth", TSide::From, model);
  read.Side(kToFields, "ToDepth", TSide::To, model);
}

void SaveRegistrySettings(TSettingsStore& store, const TSettings& settings,
                          const TSequenceModel& model, const TProgramInfo& program) {
  const auto flag = [&store](const char* name, bool value) {
    store.WriteInteger(name, value ? 1 : 0);
  };
  WriteSide(store, kFromFields, "FromDepth", TSide::From, model);
  WriteSide(store, kToFields, "ToDepth", TSide::To, model);
  flag("FileSync", settings.FileSync);
  flag("NumSync", settings.NumSync);
  flag("ShowCaution", settings.ShowCaution);
  flag("NumPack", settings.NumPack);
  flag("SaveErrorMessage", settings.SaveErrorMessage);
  flag("AutoSlash", settings.AutoSlash);
  flag("NotLoadIfExist", settings.NotLoadIfExist);
  store.WriteInteger("TimeOut", settings.TimeOut);
  flag("UseProxyServer", settings.UseProxyServer);
  store.WriteText("ProxyServer", settings.ProxyServer);
  store.WriteInteger("ProxyPort", settings.ProxyPort);
  flag("RequireAuthorization", settings.RequireAuthorization);
  store.WriteText("UserID", settings.UserID);
  flag("PasswordSaving", settings.PasswordSaving);
  store.WriteText("Password", settings.PasswordSaving ? settings.Password : std::string());
  store.WriteText("Agent", settings.Agent);
  store.WriteText("Referer", settings.Referer);
  store.WriteText("Mail-Address", settings.MailAddress);
  store.WriteText("ProgramFileName", program.FileName);
  store.WriteText("ProgramPath", program.Folder);
  store.WriteText("Version", program.Version);
}

}  // namespace pellora
