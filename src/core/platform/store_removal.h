#pragma once

#include <string>

#include "core/platform/store_location.h"

namespace pellora {

// Removal of the per-user store for the uninstall helper. The settings key is the
// store file <config>/Varnel/Pellora.conf, the maker key the folder <config>/Varnel
// that holds the stores of the maker's products.
//
// Nothing but the store (and its lock file) and the emptied maker's folder is ever
// deleted: a <config> that is not an absolute path has no store; a maker's folder
// that is a symbolic link is followed to find the store in the folder it points
// to, but neither the link nor that folder is removed; and the maker's folder is
// removed only by rmdir, which removes empty folders only.
class TStoreRemoval {
 public:
  enum class TMakerKeyOutcome { Kept, Deleted, DeleteFailed };

  explicit TStoreRemoval(std::string configDir = UserConfigDir());

  const std::string& MakerKey() const { return MakerKeyPath; }
  const std::string& SettingsKey() const { return SettingsKeyPath; }

  bool SettingsKeyExists() const;
  // Deletes the store file (and a lock file left beside it); false when it could
  // not be deleted.
  bool DeleteSettingsKey() const;
  // Deletes the maker's folder when nothing is left in it; a linked one is kept.
  TMakerKeyOutcome RemoveMakerKeyIfEmpty() const;

 private:
  int OpenConfigDir() const;
  int OpenMakerDir(int configFd) const;
  bool MakerKeyIsLink(int configFd) const;

  std::string ConfigDir;
  std::string MakerKeyPath;
  std::string SettingsKeyPath;
};

}  // namespace pellora
