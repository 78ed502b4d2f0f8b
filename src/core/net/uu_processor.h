#pragma once

#include <string>
#include <string_view>

namespace pellora {

// Text encoder for header values.
class TUUProcessor {
 public:
  // Base64 (A-Z a-z 0-9 + /, "=" padding) as one unbroken line.
  static std::string uuMime(std::string_view data);
};

}  // namespace pellora
