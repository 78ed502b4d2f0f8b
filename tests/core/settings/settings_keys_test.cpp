#include "core/settings/settings_keys.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/settings/registry_settings.h"

namespace pellora {
namespace {

// The one table serves the job file, the store and the command line's key list:
// a row whose names clash, or whose meaning would break a "key = value" line,
// breaks one of them.
TEST(SettingKeys, EveryKeyIsNamedOnceAndExplained) {
  std::set<std::string> names, storeNames;
  for (const TSettingKey& key : SettingKeys()) {
    SCOPED_TRACE(key.Name);
    EXPECT_TRUE(names.insert(key.Name).second);
    EXPECT_TRUE(storeNames.insert(key.StoreName).second);
    EXPECT_EQ(FindSettingKey(key.Name), &key);
    const std::string meaning = key.Meaning;
    EXPECT_FALSE(meaning.empty());
    EXPECT_EQ(meaning.find_first_of("=\r\n"), std::string::npos);
  }
  EXPECT_EQ(FindSettingKey("st_timeout"), nullptr);
  EXPECT_EQ(FindSettingKey("SetType"), nullptr);
}

// A store kept in memory, as the per-user store holds texts.
class TMapStore : public TSettingsStore {
 public:
  std::map<std::string, std::string> Values;
  std::optional<std::string> ReadText(const std::string& name) const override {
    const auto found = Values.find(name);
    if (found == Values.end()) return std::nullopt;
    return found->second;
  }
  void WriteText(const std::string& name, const std::string& value) override {
    Values[name] = value;
  }
  void WriteInteger(const std::string& name, int32_t value) override {
    Values[name] = std::to_string(value);
  }
};

TEST(RegistrySettings, TheStoreKeepsEveryOptionAndJobField) {
  TSettings settings{false,
                     false,
                     true,
                     true,
                     true,
                     false,
                     true,
                     true,
                     true,
                     true,
                     600000,
                     3128,
                     "proxy.h",
                     "ユーザー",
                     "pass word",
                     "A/1",
                     "ref",
                     "me@h",
                     "/etc/pellora/ca.pem",
                     8,
                     3,
                     50,
                     250};
  TSequenceModel model(settings);
  model.SetText(TFieldId::FromDir, "http://h.test/写真");
  model.SetText(TFieldId::FromFile, "img???.jpg");
  model.SetText(TFieldId::FromEnd, "12345");
  model.SetText(TFieldId::FromMax, "100");
  model.SetDepth(TSide::From, 3);
  model.SetText(TFieldId::ToDir, "/tmp/保存");
  model.SetText(TFieldId::ToFile, "p*.jpg");
  model.SetText(TFieldId::ToStart, "11");
  model.SetText(TFieldId::ToEnd, "77");  // typed: ranges are not linked, numbers packed
  model.SetText(TFieldId::ToMax, "10");
  model.SetDepth(TSide::To, 9);
  TMapStore store;
  SaveRegistrySettings(store, settings, model, {"pellora", "/opt/bin", "1.2.2"});
  EXPECT_EQ(store.Values["FileSync"], "0");
  EXPECT_EQ(store.Values["NotLoadIfExist"], "1");
  EXPECT_EQ(store.Values["Mail-Address"], "me@h");
  EXPECT_EQ(store.Values["ToDepth"], "9");
  EXPECT_EQ(store.Values["Version"], "1.2.2");

  TSettings loaded;
  TSequenceModel loadedModel(loaded);
  LoadRegistrySettings(store, loaded, loadedModel);
  EXPECT_EQ(loaded, settings);
  for (const TSettingKey& key : SettingKeys()) {
    EXPECT_EQ(SettingValue(key, loaded, loadedModel), SettingValue(key, settings, model))
        << key.Name;
  }

  settings.PasswordSaving = false;
  SaveRegistrySettings(store, settings, model, {});
  EXPECT_EQ(store.Values["Password"], "");
  // A number that is not one is left alone, as an absent value is.
  store.Values["TimeOut"] = "soon";
  store.Values.erase("Agent");
  TSettings partial;
  TSequenceModel partialModel(partial);
  LoadRegistrySettings(store, partial, partialModel);
  EXPECT_EQ(partial.TimeOut, TSettings{}.TimeOut);
  EXPECT_EQ(partial.Agent, TSettings{}.Agent);
  EXPECT_EQ(partial.ProxyPort, 3128);
  // An older store without the newer options gives their defaults.
  EXPECT_EQ(partial.Connections, 8);
  for (const char* name : {"Connections", "Retries", "StopAfterMissing", "RequestInterval"}) {
    store.Values.erase(name);
  }
  TSettings older;
  TSequenceModel olderModel(older);
  LoadRegistrySettings(store, older, olderModel);
  EXPECT_EQ(older.Connections, 1);
  EXPECT_EQ(older.Retries, 0);
  EXPECT_EQ(older.StopAfterMissing, 0);
  EXPECT_EQ(older.RequestInterval, 0);
}

// A value beyond an option's range is taken as the nearest end, from a store and
// from a job file alike.
TEST(SettingKeys, IntegersAreBroughtIntoTheirRange) {
  const struct {
    const char* key;
    const char* value;
    int32_t TSettings::*field;
    int32_t expected;
  } cases[] = {
      {"St_Connections", "99", &TSettings::Connections, 16},
      {"St_Connections", "0", &TSettings::Connections, 1},
      {"St_Retries", "-3", &TSettings::Retries, 0},
      {"St_Retries", "11", &TSettings::Retries, 10},
      {"St_StopAfterMissing", "2147483647", &TSettings::StopAfterMissing, 2147483647},
      {"St_RequestInterval", "700000", &TSettings::RequestInterval, 600000},
      {"St_TimeOut", "-5", &TSettings::TimeOut, -5},  // no range: as before
  };
  for (const auto& c : cases) {
    TSettings settings;
    TSequenceModel model(settings);
    const TSettingKey* key = FindSettingKey(c.key);
    ASSERT_NE(key, nullptr) << c.key;
    ApplySettingValue(*key, c.value, settings, model);
    EXPECT_EQ(settings.*c.field, c.expected) << c.key << " = " << c.value;
    TMapStore store;
    store.Values[key->StoreName] = c.value;
    TSettings stored;
    TSequenceModel storedModel(stored);
    LoadRegistrySettings(store, stored, storedModel);
    EXPECT_EQ(stored.*c.field, c.expected) << key->StoreName << "=" << c.value;
  }
}

}  // namespace
}  // namespace pellora
