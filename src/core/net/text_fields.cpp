#include "core/net/text_fields.h"

namespace pellora {

std::string NthWord(std::string_view text, char delimiter, int n) {
  if (n < 1) return {};
  size_t start = 0;
  for (int field = 1; field < n; ++field) {
    const size_t cut = text.find(delimiter, start);
    if (cut == std::string_view::npos) return {};
    start = cut + 1;
  }
  const size_t end = text.find(delimiter, start);
  return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

size_t NthPos(std::string_view text, char delimiter, int n) {
  int seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == delimiter && ++seen == n) return i + 1;
  }
  return text.size() + 1;
}

void StreamLn(std::ostream& stream, std::string_view text) {
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
  stream.write("\r\n", 2);
}

}  // namespace pellora
