#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellora {

// Separator of remote paths, and of local paths on this platform.
inline constexpr std::string_view kRemoteSeparator = "/";
inline constexpr std::string_view kLocalSeparator = "/";

// Lowest and highest value of a side's folder depth.
inline constexpr int kMinDepth = 0;
inline constexpr int kMaxDepth = 127;

// One side of a job (remote "From" or local "To"), as its six fields describe it.
struct TSideSpec {
  std::string BaseDir;
  std::string FilePattern;
  int32_t Start = 0;
  int32_t End = 0;
  int32_t MaxPerFolder = 0;  // 0 or less: no folder hierarchy
  int Depth = 0;
  bool IsRemote = true;
  // Joins the base, the folder levels and the file name: "/" on the remote side,
  // the platform's own on the local side (tests may use "\").
  std::string Separator = std::string(kRemoteSeparator);
};

// The file name of `number`: every unescaped "*" becomes the whole decimal number,
// all unescaped "?" together form one right-aligned, zero-padded field, and "\"
// takes the byte after it literally.
std::string MakeFileName(std::string_view pattern, int32_t number);

// The sub-folder path of `number`, one level per depth, each level the truncated
// quotient of the number by a power of `maxPerFolder`, largest divisor first, each
// followed by `separator`. Empty when `maxPerFolder` is 0 or less.
std::string MakeFolderPath(int32_t number, int32_t maxPerFolder, int depth,
                           std::string_view separator);

// The base directory with the side's separator appended when it is needed; the
// remote side only appends when `autoSlash` is on. An empty base stays empty.
std::string NormalizeBase(const TSideSpec& side, bool autoSlash);

// NormalizeBase + MakeFolderPath + MakeFileName of `number`.
std::string MakeFullName(const TSideSpec& side, int32_t number, bool autoSlash);

// The fewest folder levels that keep the topmost quotient of `end` below
// `maxPerFolder`; 0 for an end of 0 or less, or a maximum below 2.
int MinimumDepth(int32_t end, int32_t maxPerFolder);

// Replaces the first occurrence of `search` in `text`; false (and no change) when
// there is none or `search` is empty.
bool ReplaceFirst(std::string& text, std::string_view search, std::string_view replacement);

}  // namespace pellora
