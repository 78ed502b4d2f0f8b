#pragma once

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
// readable by its owner only. Throws EFileError.
void WriteFileAtomically(const std::string& path, std::string_view content, bool privateFile);

}  // namespace pellora
