#pragma once

#include <string>
#include <string_view>

namespace pellora {

// The program's version data, looked up by value path as a version resource is
// ("\StringFileInfo\041103A4\ProductVersion"); an unknown path gives "".
std::string VersionValue(std::string_view valuePath);

// Shorthand for the product version ("1.2.2").
std::string ProductVersion();

}  // namespace pellora
