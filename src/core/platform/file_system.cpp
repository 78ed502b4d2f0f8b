#include "core/platform/file_system.h"

#include <sys/stat.h>

namespace pellora {

std::string JoinNewFolderPath(std::string_view base, std::string_view name,
                              std::string_view separator) {
  std::string path(base);
  if (!base.ends_with(separator) && !name.starts_with(separator)) path += separator;
  path += name;
  return path;
}

bool CreateSingleDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

}  // namespace pellora
