#pragma once

#include <string>

namespace pellora {

// The caller's header values of a request. LocalMailAddress goes out as User-Agent and
// LocalProgram as From: the names are historical and do not match the headers.
struct THeaderInfo {
  std::string LocalMailAddress;
  std::string LocalProgram;
  std::string Cookie;
  std::string Referer;
  std::string UserId;
  std::string Password;
};

}  // namespace pellora
