#include "core/platform/store_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "core/platform/unique_fd.h"

namespace pellora {

namespace {

const std::string kStoreFileName = std::string(kProductKeyName) + ".conf";
// QSettings's lock file; one left behind by a crash belongs to the store too.
const std::string kLockFileName = kStoreFileName + ".lock";

bool HasEntries(int dirFd) {
  // fdopendir takes over the descriptor it is given.
  const int own = ::dup(dirFd);
  if (own < 0) return true;
  DIR* dir = ::fdopendir(own);
  if (!dir) {
    ::close(own);
    return true;  // cannot tell: keep the folder
  }
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

}  // namespace

TStoreRemoval::TStoreRemoval(std::string configDir)
    : ConfigDir(std::move(configDir)),
      MakerKeyPath(ConfigDir + "/" + kMakerKeyName),
      SettingsKeyPath(MakerKeyPath + "/" + kStoreFileName) {}

int TStoreRemoval::OpenConfigDir() const {
  // A relative location would be resolved against whatever the current directory is.
  if (ConfigDir.empty() || ConfigDir.front() != '/') {
    errno = EINVAL;
    return -1;
  }
  return ::open(ConfigDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int TStoreRemoval::OpenMakerDir(int configFd) const {
  // A link in the folder's place (settings kept with other configuration files)
  // leads to the folder the program writes its store into.
  return ::openat(configFd, kMakerKeyName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool TStoreRemoval::MakerKeyIsLink(int configFd) const {
  struct stat info {};
  return ::fstatat(configFd, kMakerKeyName, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(info.st_mode);
}

bool TStoreRemoval::SettingsKeyExists() const {
  const TFd config(OpenConfigDir());
  if (config.Get() < 0) return false;
  struct stat info {};
  return ::fstatat(config.Get(), (std::string(kMakerKeyName) + "/" + kStoreFileName).c_str(), &info,
                   AT_SYMLINK_NOFOLLOW) == 0;
}

bool TStoreRemoval::DeleteSettingsKey() const {
  const TFd config(OpenConfigDir());
  if (config.Get() < 0) return false;
  const TFd maker(OpenMakerDir(config.Get()));
  if (maker.Get() < 0) return false;
  // unlinkat without AT_REMOVEDIR refuses a folder of that name: it is not our store.
  if (::unlinkat(maker.Get(), kStoreFileName.c_str(), 0) != 0 && errno != ENOENT) return false;
  ::unlinkat(maker.Get(), kLockFileName.c_str(), 0);
  return true;
}

TStoreRemoval::TMakerKeyOutcome TStoreRemoval::RemoveMakerKeyIfEmpty() const {
  const TFd config(OpenConfigDir());
  if (config.Get() < 0) return TMakerKeyOutcome::DeleteFailed;
  // A linked folder belongs to the user's own arrangement: neither the link nor
  // the folder it points to is removed.
  if (MakerKeyIsLink(config.Get())) return TMakerKeyOutcome::Kept;
  {
    const TFd maker(OpenMakerDir(config.Get()));
    if (maker.Get() < 0) {
      return errno == ENOENT ? TMakerKeyOutcome::Deleted : TMakerKeyOutcome::DeleteFailed;
    }
    if (HasEntries(maker.Get())) return TMakerKeyOutcome::Kept;
  }
  // rmdir removes nothing but an empty folder, and no symbolic link that took its
  // place meanwhile.
  if (::unlinkat(config.Get(), kMakerKeyName, AT_REMOVEDIR) != 0) {
    if (errno == ENOENT) return TMakerKeyOutcome::Deleted;
    // Another product's store arrived meanwhile.
    if (errno == ENOTEMPTY || errno == EEXIST) return TMakerKeyOutcome::Kept;
    return TMakerKeyOutcome::DeleteFailed;
  }
  return TMakerKeyOutcome::Deleted;
}

}  // namespace pellora
