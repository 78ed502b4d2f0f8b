#include "core/net/uu_processor.h"

#include <cstdint>

namespace pellora {

std::string TUUProcessor::uuMime(std::string_view data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string result;
  result.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16 |
                           static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8 |
                           static_cast<unsigned char>(data[i + 2]);
    result += kAlphabet[group >> 18];
    result += kAlphabet[(group >> 12) & 63];
    result += kAlphabet[(group >> 6) & 63];
    result += kAlphabet[group & 63];
  }
  const size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16;
    if (rest == 2) group |= static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
    result += kAlphabet[group >> 18];
    result += kAlphabet[(group >> 12) & 63];
    result += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    result += '=';
  }
  return result;
}

}  // namespace pellora
