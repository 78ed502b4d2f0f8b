#pragma once

#include <sys/types.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pellora {

// A file operation that failed, with the file and the system's reason.
class EFileError : public std::runtime_error {
 public:
  EFileError(std::string path, int error, const std::string& what)
      : std::runtime_error(what), Path(std::move(path)), Error(error) {}
  explicit EFileError(const std::string& what) : std::runtime_error(what), Error(0) {}
  std::string Path;
  int Error;  // errno
};

// base + name, with `separator` between them unless the base already ends in one
// or the name begins with one.
std::string JoinNewFolderPath(std::string_view base, std::string_view name,
                              std::string_view separator);

// Creates one folder (not its parents). False when it could not be created or
// already exists.
bool CreateSingleDirectory(const std::string& path);

// The whole content of a regular file of at most `maxBytes` bytes. Throws
// EFileError (EFBIG for a larger file, EISDIR for a folder).
std::string ReadSmallFile(const std::string& path, size_t maxBytes);

// Replaces `path` with `content` so that a failure at any point leaves the old
// file as it was: the content goes to a temporary file beside it, is flushed to
// disk and then renamed over the old one. `privateFile` makes the result
// readable by its owner only. A read-only `path` is refused. Throws EFileError.
void WriteFileAtomically(const std::string& path, std::string_view content, bool privateFile);

// Whether `path` names a folder (following symbolic links).
bool IsFolder(const std::string& path);

// A regular file that its owner may not write: the user made it read-only, so it
// is never replaced.
bool IsReadOnlyFile(const std::string& path);

// The permissions a newly created file gets under the process's umask.
mode_t NewFileMode();

// Whether something (a file, a folder, ...) exists under `path`.
bool PathExists(const std::string& path);

// The reason of a failed file operation in the program's words (Japanese).
std::string DescribeFileError(int error);

// Up to `maxBytes` bytes from the start of a file; empty when it cannot be read.
std::string ReadFilePrefix(const std::string& path, size_t maxBytes);

// Creates the folder `path` and every missing parent. False when it does not exist
// afterwards.
bool CreateFolderPath(const std::string& path);

}  // namespace pellora
