#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pellora {

struct TSettings;
class TSequenceModel;

// A per-user store of named values, as the front-end provides it.
class TSettingsStore {
 public:
  virtual ~TSettingsStore() = default;
  // nullopt when the value is absent.
  virtual std::optional<std::string> ReadText(const std::string& name) const = 0;
  virtual void WriteText(const std::string& name, const std::string& value) = 0;
  virtual void WriteInteger(const std::string& name, int32_t value) = 0;
};

// The three values written for readers outside the program.
struct TProgramInfo {
  std::string FileName;  // of the running executable, without folder
  std::string Folder;    // of the running executable, without trailing separator
  std::string Version;
};

// Applies every value present: options first, then the job fields through the
// model, so its rules run as for any edit. An absent value, or an integer or flag
// that is not a number, leaves what is there.
void LoadRegistrySettings(const TSettingsStore& store, TSettings& settings, TSequenceModel& model);

// Writes every value, the password only when it is to be saved.
void SaveRegistrySettings(TSettingsStore& store, const TSettings& settings,
                          const TSequenceModel& model, const TProgramInfo& program);

}  // namespace pellora
