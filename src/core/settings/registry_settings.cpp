#include "core/settings/registry_settings.h"

#include "core/sequence/int_conversion.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"
#include "core/settings/settings_keys.h"

namespace pellora {

namespace {

// Flags and integers are numbers in the store; a value that is not one is left
// alone, as an absent value is.
struct TStoreReader {
  const TSettingsStore& Store;
  const TSettingKey& Key;
  TSettings& Settings;
  TSequenceModel& Model;

  std::optional<int32_t> Integer() const {
    const auto text = Store.ReadText(Key.StoreName);
    return text ? TryStrToInt(*text) : std::nullopt;
  }
  void operator()(bool TSettings::*flag) const {
    if (const auto value = Integer()) Settings.*flag = *value != 0;
  }
  void operator()(int32_t TSettings::*integer) const {
    if (const auto value = Integer()) Settings.*integer = *value;
    ClampToRange(Key, Settings);
  }
  void operator()(std::string TSettings::*text) const {
    if (auto value = Store.ReadText(Key.StoreName)) Settings.*text = std::move(*value);
  }
  void operator()(TFieldId field) const {
    if (const auto value = Store.ReadText(Key.StoreName)) Model.SetText(field, *value);
  }
  void operator()(TSide side) const {
    if (const auto value = Integer()) Model.SetDepth(side, *value);
  }
};

struct TStoreWriter {
  TSettingsStore& Store;
  const TSettingKey& Key;
  const TSettings& Settings;
  const TSequenceModel& Model;

  void operator()(bool TSettings::*flag) const {
    Store.WriteInteger(Key.StoreName, Settings.*flag ? 1 : 0);
  }
  void operator()(int32_t TSettings::*integer) const {
    Store.WriteInteger(Key.StoreName, Settings.*integer);
  }
  // Texts as a job file keeps them (the password only when it is to be saved).
  void operator()(std::string TSettings::*) const { WriteText(); }
  void operator()(TFieldId) const { WriteText(); }
  void operator()(TSide side) const { Store.WriteInteger(Key.StoreName, Model.Depth(side)); }
  void WriteText() const { Store.WriteText(Key.StoreName, SettingValue(Key, Settings, Model)); }
};

}  // namespace

void LoadRegistrySettings(const TSettingsStore& store, TSettings& settings, TSequenceModel& model) {
  // The options come before the fields: setting a field runs the link rules, and
  // with the default options they would overwrite a To end typed under NumPack.
  for (bool fields : {false, true}) {
    for (const TSettingKey& key : SettingKeys()) {
      if (key.IsJobField() == fields) {
        std::visit(TStoreReader{store, key, settings, model}, key.Target);
      }
    }
  }
}

void SaveRegistrySettings(TSettingsStore& store, const TSettings& settings,
                          const TSequenceModel& model, const TProgramInfo& program) {
  for (bool fields : {true, false}) {
    for (const TSettingKey& key : SettingKeys()) {
      if (key.IsJobField() == fields) {
        std::visit(TStoreWriter{store, key, settings, model}, key.Target);
      }
    }
  }
  store.WriteText("ProgramFileName", program.FileName);
  store.WriteText("ProgramPath", program.Folder);
  store.WriteText("Version", program.Version);
}

}  // namespace pellora
