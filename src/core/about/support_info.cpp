#include "core/about/support_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>

namespace pellora {

TSupportInfo SupportInfo;

namespace {

// Only four short lines matter; a file far larger than that is not a support file,
// and reading it whole would only cost time and memory at every start.
constexpr off_t kMaxFileBytes = 1 << 20;
constexpr size_t kChunkBytes = 1024;
constexpr std::string_view kLineEnd = "\r\n";

// The text the file was read into: chunk by chunk, each chunk's text ending at its
// first zero byte.
std::string TextOfChunks(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size(); at += kChunkBytes) {
    const std::string_view chunk = bytes.substr(at, kChunkBytes);
    text.append(chunk.substr(0, chunk.find('\0')));
  }
  return text;
}

// Splits off the next line ended by CR LF; nothing when no CR LF follows.
std::optional<std::string_view> NextLine(std::string_view& rest) {
  const size_t end = rest.find(kLineEnd);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end + kLineEnd.size());
  return line;
}

bool Verifies(std::string_view line, std::string_view checkLine) {
  return checkLine == std::to_string(SupportCheckValue(line));
}

// One value and its optional check line: the value stays when the check line is
// missing or matches.
std::string CheckedValue(std::string_view& rest, bool& linesLeft) {
  std::optional<std::string_view> value = NextLine(rest);
  if (!value) {
    linesLeft = false;
    return {};
  }
  std::optional<std::string_view> check = NextLine(rest);
  if (!check) {
    linesLeft = false;
    return std::string(*value);
  }
  return Verifies(*value, *check) ? std::string(*value) : std::string();
}

}  // namespace

int SupportCheckValue(std::string_view line) {
  // Unsigned arithmetic wraps around as 32-bit signed arithmetic would, without the
  // undefined behaviour of a signed overflow on long lines.
  uint32_t sum = static_cast<uint32_t>(line.size());
  for (const char c : line) {
    sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
  }
  const auto product = static_cast<int32_t>(sum * 4179u);
  return product % 18592;
}

TSupportInfo ParseSupportInfo(std::string_view fileBytes) {
  const std::string text = TextOfChunks(fileBytes);
  std::string_view rest = text;
  bool linesLeft = true;
  TSupportInfo info;
  info.SupportUrl = CheckedValue(rest, linesLeft);
  if (linesLeft) info.SupportMail = CheckedValue(rest, linesLeft);
  if (info.SupportUrl.empty()) info.SupportUrl = kDefaultSupportUrl;
  if (info.SupportMail.empty()) info.SupportMail = kDefaultSupportMail;
  return info;
}

TSupportInfo ReadSupportInfo(const std::string& path) {
  std::string bytes;
  // O_NONBLOCK: a FIFO of that name must not hang the program at start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    struct stat info {};
    bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes;
    char buffer[kChunkBytes];
    while (usable) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || bytes.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxFileBytes)) {
        usable = n == 0;
        break;
      }
      bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!usable) bytes.clear();
  }
  return ParseSupportInfo(bytes);
}

void LoadSupportInfo() {
  SupportInfo = TSupportInfo{};
  SupportInfo = ReadSupportInfo(kSupportFileName);
}

}  // namespace pellora
