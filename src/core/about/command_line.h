#pragma once

#include <string>
#include <string_view>

namespace pellora {

// Removes the argument placeholder from a desktop handler's command line so that
// the link can be appended: the first "\"%1\"" together with the character before
// it, else the first "%1" together with the character before it. Whatever follows
// the placeholder stays.
std::string EditCommandLine(std::string_view commandLine);

}  // namespace pellora
