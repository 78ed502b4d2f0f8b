#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/platform/unique_fd.h"

namespace pellora {

// The file a transfer writes before it becomes `target`: a hidden, uniquely named
// file in the target's folder (".img001.jpg.pel" + a unique suffix), so that
// storing it is a rename on the same file system and nothing is written twice.
// It is removed when the object goes unless it was committed. While it exists it
// is locked, so that cleaning up after a killed run never removes a file that
// another run is still writing.
class TTempLeftovers;

class TTempFile {
 public:
  enum class TTargetCheck { RefuseReadOnly, None };
  // Creates the file, empty, with the permissions of a normally created file.
  // Refuses a target that the user made read-only, unless the target only says
  // where the file goes (the real one is given to CommitAs). Throws EFileError.
  explicit TTempFile(std::string target, TTargetCheck check = TTargetCheck::RefuseReadOnly);
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const std::string& Path() const { return FilePath; }
  const std::string& Target() const { return TargetPath; }

  // Renames the file over its target (still refusing a read-only one), then
  // removes what killed runs left of the same target. Throws EFileError.
  void Commit(TTempLeftovers& leftovers);
  // The same for another target, e.g. one that became known only after the file
  // was made (it must be on the same file system).
  void CommitAs(const std::string& target, TTempLeftovers& leftovers);

  // Why a write to the file fails now (an errno value, found by trying one);
  // 0 when writing works.
  int WriteError() const;

 private:
  std::string TargetPath;
  std::string FilePath;  // empty once committed
  TFd Fd{-1};            // holds the lock
};

// The start of every temporary name of `target`: "." + its name + ".pel", the
// name shortened when the whole would not fit a file name; the unique suffix
// follows.
std::string TempFilePrefix(const std::string& target);

// The temporary files that killed runs left in the folders of a run. Each folder
// is read once, the first time a file is stored in it, not once per file: a run of
// thousands of files in one folder would otherwise read the folder thousands of times.
class TTempLeftovers {
 public:
  // Removes the temporary files of `target` that no run holds any more.
  void RemoveFor(const std::string& target);

 private:
  // Per folder: temporary names by the prefix they share with their target.
  std::map<std::string, std::map<std::string, std::vector<std::string>>> Found;
};

}  // namespace pellora
