#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/settings/registry_settings.h"

namespace pellora {

// Reads the per-user store as the GUI program's settings writer keeps it: an INI
// file whose values of the [General] section are the store's values (quoted when
// they hold special characters, with backslash escapes, "@@" for a leading "@").
// Every front-end, the window included, reads the store through this reader, so
// they all see the same texts. A value is always one text: an unquoted "," in a
// hand-edited value is kept as typed. Read-only: the window writes the store.
class TIniStoreReader : public TSettingsStore {
 public:
  // Parses `text`, the content of the file.
  explicit TIniStoreReader(std::string_view text);
  // An empty store when the file cannot be read.
  static TIniStoreReader FromFile(const std::string& path);

  std::optional<std::string> ReadText(const std::string& name) const override;
  void WriteText(const std::string&, const std::string&) override {}
  void WriteInteger(const std::string&, int32_t) override {}

 private:
  std::map<std::string, std::string> Values;
};

}  // namespace pellora
