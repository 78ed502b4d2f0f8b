#include "core/platform/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/platform/file_system.h"

namespace pellora {

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = dir && *dir ? dir : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

TTempFile::TTempFile() {
  std::string path = TempFolder() + "/pelXXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw EFileError(path, error, "cannot create a temporary file in " + TempFolder());
  }
  ::close(fd);
  FilePath = std::move(path);
}

TTempFile::~TTempFile() {
  if (!FilePath.empty()) ::unlink(FilePath.c_str());
}

}  // namespace pellora
