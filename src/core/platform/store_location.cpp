#include "core/platform/store_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace pellora {

namespace {

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

}  // namespace

std::string UserConfigDir() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
  std::string home = HomeDir();
  if (!home.empty() && home.back() == '/') home.pop_back();
  return home + "/.config";
}

std::string MakerStoreDir() {
  return UserConfigDir() + "/" + kMakerKeyName;
}

std::string PerUserStorePath() {
  return MakerStoreDir() + "/" + kProductKeyName + ".conf";
}

}  // namespace pellora
