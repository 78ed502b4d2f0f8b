#include "core/platform/temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "core/platform/file_system.h"

namespace pellora {

namespace {

constexpr char kUniqueSuffix[] = "XXXXXX";
constexpr size_t kUniqueLength = sizeof kUniqueSuffix - 1;

[[noreturn]] void Fail(const std::string& path, int error, const std::string& operation) {
  throw EFileError(path, error, operation + " " + path + ": " + std::strerror(error));
}

// Folder part (with its separator, possibly empty) and name part of a path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool IsUniqueSuffix(std::string_view text) {
  if (text.size() != kUniqueLength) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

void RefuseReadOnly(const std::string& target) {
  if (IsReadOnlyFile(target)) Fail(target, EACCES, "cannot replace");
}

}  // namespace

std::string TempFilePrefix(const std::string& target) {
  std::string name = SplitPath(target).second;
  constexpr size_t kDecoration = 1 + 4 + kUniqueLength;  // ".", ".pel", the suffix
  if (name.size() + kDecoration > NAME_MAX) {
    size_t keep = NAME_MAX - kDecoration;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    name.resize(keep);  // never in the middle of a UTF-8 character
  }
  return SplitPath(target).first + "." + name + ".pel";
}

TTempFile::TTempFile(std::string target, TTargetCheck check) : TargetPath(std::move(target)) {
  if (check == TTargetCheck::RefuseReadOnly) RefuseReadOnly(TargetPath);
  // A run cleaning up could remove the new file between its creation and its
  // lock; such a file is not the one at the name any more, so try again.
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string path = TempFilePrefix(TargetPath) + kUniqueSuffix;
    TFd fd(::mkostemp(path.data(), O_CLOEXEC));
    if (fd.Get() < 0) Fail(TargetPath, errno, "cannot create a file beside");
    if (::flock(fd.Get(), LOCK_EX) != 0 || ::fchmod(fd.Get(), NewFileMode()) != 0) {
      const int error = errno;
      ::unlink(path.c_str());
      Fail(TargetPath, error, "cannot create a file beside");
    }
    struct stat held {
    }, named{};
    if (::fstat(fd.Get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      FilePath = std::move(path);
      Fd.Reset(fd.Release());
      return;
    }
  }
  Fail(TargetPath, EEXIST, "cannot create a file beside");
}

TTempFile::~TTempFile() {
  if (!FilePath.empty()) ::unlink(FilePath.c_str());
}

void TTempFile::Commit(TTempLeftovers& leftovers) {
  CommitAs(TargetPath, leftovers);
}

void TTempFile::CommitAs(const std::string& target, TTempLeftovers& leftovers) {
  RefuseReadOnly(target);
  if (::rename(FilePath.c_str(), target.c_str()) != 0) Fail(target, errno, "cannot store");
  FilePath.clear();
  Fd.Reset();
  TargetPath = target;
  leftovers.RemoveFor(target);
}

int TTempFile::WriteError() const {
  struct stat info {};
  if (::fstat(Fd.Get(), &info) != 0) return errno;
  const char byte = 0;
  if (::pwrite(Fd.Get(), &byte, 1, info.st_size) != 1) return errno;
  if (::ftruncate(Fd.Get(), info.st_size) != 0) return errno;
  return 0;
}

void TTempLeftovers::RemoveFor(const std::string& target) {
  const auto [folder, prefix] = SplitPath(TempFilePrefix(target));
  auto scanned = Found.find(folder);
  if (scanned == Found.end()) {
    scanned = Found.emplace(folder, std::map<std::string, std::vector<std::string>>()).first;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                                  ::closedir);
    while (dir) {
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) break;
      const std::string_view name = entry->d_name;
      if (!name.starts_with('.') || name.size() < kUniqueLength + 4 ||
          !IsUniqueSuffix(name.substr(name.size() - kUniqueLength)) ||
          name.substr(name.size() - kUniqueLength - 4, 4) != ".pel") {
        continue;
      }
      scanned->second[std::string(name.substr(0, name.size() - kUniqueLength))].emplace_back(name);
    }
  }
  const auto found = scanned->second.find(prefix);
  if (found == scanned->second.end()) return;
  for (const std::string& name : found->second) {
    const std::string path = folder + name;
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat info {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    // A file that another run holds is still being written.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) ::unlink(path.c_str());
  }
  scanned->second.erase(found);
}

}  // namespace pellora
