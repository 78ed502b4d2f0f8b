#include "core/sequence/mapping.h"

#include <vector>

#include "core/sequence/int_conversion.h"

namespace pellora {

namespace {

struct TPatternByte {
  char Byte;
  bool Escaped;
};

// Resolves the "\" escapes. Texts are UTF-8 here, where a "\" byte never occurs
// inside a multi-byte character, so every "\" is a real escape.
std::vector<TPatternByte> ResolveEscapes(std::string_view pattern) {
  std::vector<TPatternByte> bytes;
  bytes.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '\\') {
      if (i + 1 < pattern.size()) bytes.push_back({pattern[++i], true});
      // A trailing "\" escapes nothing and is dropped.
    } else {
      bytes.push_back({pattern[i], false});
    }
  }
  return bytes;
}

}  // namespace

std::string MakeFileName(std::string_view pattern, int32_t number) {
  const std::string digits = IntToStr(number);
  const std::vector<TPatternByte> bytes = ResolveEscapes(pattern);

  int64_t questionMarks = 0;
  for (const TPatternByte& b : bytes) {
    if (!b.Escaped && b.Byte == '?') ++questionMarks;
  }

  std::string result;
  result.reserve(bytes.size() + digits.size());
  int64_t k = 0;
  for (const TPatternByte& b : bytes) {
    if (b.Escaped) {
      result += b.Byte;
    } else if (b.Byte == '*') {
      result += digits;
    } else if (b.Byte == '?') {
      const int64_t p = static_cast<int64_t>(digits.size()) - questionMarks + k;
      result += p >= 0 ? digits[static_cast<size_t>(p)] : '0';
      ++k;
    } else {
      result += b.Byte;
    }
  }
  return result;
}

std::string MakeFolderPath(int32_t number, int32_t maxPerFolder, int depth,
                           std::string_view separator) {
  if (maxPerFolder <= 0) return {};
  std::string path;
  int32_t q = number;
  for (int level = 0; level < depth; ++level) {
    q /= maxPerFolder;  // truncates toward zero; maxPerFolder > 0, so no overflow
    path.insert(0, IntToStr(q) + std::string(separator));
  }
  return path;
}

std::string NormalizeBase(const TSideSpec& side, bool autoSlash) {
  std::string base = side.BaseDir;
  if (base.empty()) return base;
  const std::string_view separator = side.IsRemote ? kRemoteSeparator : side.Separator;
  const bool wanted = side.IsRemote ? autoSlash : true;
  if (wanted && !std::string_view(base).ends_with(separator)) base += separator;
  return base;
}

std::string MakeFullName(const TSideSpec& side, int32_t number, bool autoSlash) {
  return NormalizeBase(side, autoSlash) +
         MakeFolderPath(number, side.MaxPerFolder, side.Depth, side.Separator) +
         MakeFileName(side.FilePattern, number);
}

int MinimumDepth(int32_t end, int32_t maxPerFolder) {
  if (maxPerFolder < 2) return 0;
  int levels = 0;
  for (int32_t e = end; e >= maxPerFolder; e /= maxPerFolder) ++levels;
  return levels;
}

bool ReplaceFirst(std::string& text, std::string_view search, std::string_view replacement) {
  if (search.empty()) return false;
  const size_t pos = text.find(search);
  if (pos == std::string::npos) return false;
  text.replace(pos, search.size(), replacement);
  return true;
}

}  // namespace pellora
