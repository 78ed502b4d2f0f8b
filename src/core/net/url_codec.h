#pragma once

#include <string>
#include <string_view>

namespace pellora {

// Form encoding of POST data.
class TUrlCodec {
 public:
  // Letters and digits stay, a blank becomes "+", every other byte "%xx" (lower case).
  static std::string Encode(std::string_view text);
  // "+" becomes a blank, "%" with two hex digits that byte; everything else stays.
  static std::string Decode(std::string_view text);
};

}  // namespace pellora
