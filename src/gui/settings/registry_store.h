#pragma once

namespace pellora {

struct TSettings;
class TSequenceModel;

// The per-user store of the options and the job fields: an INI file at
// PerUserStorePath(), readable by this user only (it may hold a password).

// Applies every value present in the store; an absent value (or one of the wrong
// kind) leaves what is there. Field texts go through the model, so its rules run as
// for any edit. Creates the empty store when there is none.
void LoadRegistrySettings(TSettings& settings, TSequenceModel& model);

// Writes every value. False when the store could not be written; what is in memory
// is untouched either way.
bool SaveRegistrySettings(const TSettings& settings, const TSequenceModel& model);

}  // namespace pellora
