#pragma once

#include <string>

namespace pellora {

// Where the per-user settings live: "<config>/Varnel/Pellora.conf", where <config>
// is $XDG_CONFIG_HOME when it is an absolute path, else "$HOME/.config".
inline constexpr char kMakerKeyName[] = "Varnel";
inline constexpr char kProductKeyName[] = "Pellora";

std::string UserConfigDir();     // <config>
std::string MakerStoreDir();     // <config>/Varnel
std::string PerUserStorePath();  // <config>/Varnel/Pellora.conf

}  // namespace pellora
