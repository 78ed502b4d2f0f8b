#include "core/download/retry_policy.h"

#include <strings.h>

#include <algorithm>
#include <ctime>

namespace pellora {

namespace {

constexpr std::chrono::milliseconds kFirstPause{1000};
constexpr std::chrono::milliseconds kLongestPause{60 * 1000};
constexpr std::chrono::milliseconds kLongestServerPause{5 * 60 * 1000};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The value of the first "Retry-After:" line of a reply header.
std::optional<std::string> RetryAfterValue(const std::string& header) {
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find('\n', start);
    if (end == std::string::npos) end = header.size();
    const std::string line = header.substr(start, end - start);
    constexpr char kName[] = "retry-after:";
    if (line.size() >= sizeof kName - 1 &&
        ::strncasecmp(line.c_str(), kName, sizeof kName - 1) == 0) {
      return Trimmed(line.substr(sizeof kName - 1));
    }
    start = end + 1;
  }
  return std::nullopt;
}

// An HTTP date in any of the three forms HTTP allows, as UTC.
std::optional<std::time_t> ParseHttpDate(const std::string& text) {
  for (const char* format :
       {"%a, %d %b %Y %H:%M:%S GMT", "%A, %d-%b-%y %H:%M:%S GMT", "%a %b %e %H:%M:%S %Y"}) {
    std::tm parts{};
    const char* end = ::strptime(text.c_str(), format, &parts);
    if (end != nullptr && *end == '\0') return ::timegm(&parts);
  }
  return std::nullopt;
}

}  // namespace

bool IsRetriableReply(int32_t replyCode) {
  return replyCode == 429 || (replyCode >= 500 && replyCode <= 599);
}

std::optional<std::chrono::milliseconds> RetryAfter(const std::string& replyHeader,
                                                    std::chrono::system_clock::time_point now) {
  const std::optional<std::string> value = RetryAfterValue(replyHeader);
  if (!value || value->empty()) return std::nullopt;
  std::chrono::milliseconds wait{0};
  if (std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; })) {
    // More digits than any sensible wait: the longest one.
    wait = value->size() > 6 ? kLongestServerPause
                             : std::chrono::milliseconds(std::stoll(*value) * 1000);
  } else if (const std::optional<std::time_t> date = ParseHttpDate(*value)) {
    wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::from_time_t(*date) - now);
  } else {
    return std::nullopt;
  }
  return std::clamp(wait, std::chrono::milliseconds(0), kLongestServerPause);
}

std::chrono::milliseconds RetryDelay(int nextAttempt, const std::string& replyHeader,
                                     std::chrono::system_clock::time_point now) {
  if (const auto asked = RetryAfter(replyHeader, now)) return *asked;
  std::chrono::milliseconds pause = kFirstPause;
  for (int attempt = 2; attempt < nextAttempt && pause < kLongestPause; ++attempt) pause *= 2;
  return std::min(pause, kLongestPause);
}

}  // namespace pellora
