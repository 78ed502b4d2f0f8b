#pragma once

#include <climits>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "core/sequence/sequence_model.h"
#include "core/settings/settings.h"

namespace pellora {

// Where a setting lives: a field of the option record, a text field of the job, or
// the folder depth of a side.
using TSettingTarget = std::variant<bool TSettings::*, int32_t TSettings::*,
                                    std::string TSettings::*, TFieldId, TSide>;

enum class TSettingKind { Flag, Integer, Text };

// One setting as the job file, the per-user store and the command line name it.
struct TSettingKey {
  const char* Name;       // key in a job file, e.g. "St_TimeOut"
  const char* StoreName;  // value name in the per-user store, e.g. "TimeOut"
  TSettingTarget Target;
  const char* Meaning;  // one line for people (no "=")
  // The range of an integer option; a value beyond it is taken as the nearest end.
  int32_t Minimum = INT32_MIN;
  int32_t Maximum = INT32_MAX;

  TSettingKind Kind() const;
  bool IsJobField() const {
    return std::holds_alternative<TFieldId>(Target) || std::holds_alternative<TSide>(Target);
  }
};

// Every setting, in the order a job file lists them. The job-file reader and
// writer, the per-user store and the command line's key list all work from this
// one table: a new option is one more row.
std::span<const TSettingKey> SettingKeys();

// The row of a job-file key (compared case-sensitively); nullptr when unknown.
const TSettingKey* FindSettingKey(std::string_view name);

// The value as a job file holds it: flags "true"/"false", integers in decimal,
// texts unchanged, the password only when it is to be saved.
std::string SettingValue(const TSettingKey& key, const TSettings& settings,
                         const TSequenceModel& model);

// Stores a value as a job-file line gives it: a flag takes exactly "true" or
// "false" and ignores anything else; an integer must be one (EConvertError
// otherwise) and is brought into the key's range; a depth is clamped; a job field
// is set through the model, so its side's rules run as for an edit.
void ApplySettingValue(const TSettingKey& key, std::string_view value, TSettings& settings,
                       TSequenceModel& model);

// Brings an integer option into its key's range (other keys are left alone).
void ClampToRange(const TSettingKey& key, TSettings& settings);

}  // namespace pellora
