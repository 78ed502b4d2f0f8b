#pragma once

#include <string>
#include <string_view>

namespace pellora {

// base + name, with `separator` between them unless the base already ends in one
// or the name begins with one.
std::string JoinNewFolderPath(std::string_view base, std::string_view name,
                              std::string_view separator);

// Creates one folder (not its parents). False when it could not be created or
// already exists.
bool CreateSingleDirectory(const std::string& path);

}  // namespace pellora
