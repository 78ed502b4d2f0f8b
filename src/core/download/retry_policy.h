#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace pellora {

// When a failed transfer is worth another try, and how long to wait before it.
//
// Tried again: a connection error, a time-out or a reply cut off (the caller
// knows those by their exception), a 5xx reply and a 429 reply. Not tried again: a
// certificate that fails verification, a local file error, any other reply.
bool IsRetriableReply(int32_t replyCode);

// The pause before try `nextAttempt` (2 for the first retry): the server's
// Retry-After when the reply header has one (seconds or an HTTP date, at most
// 5 minutes), otherwise 1 s doubled for each try before (at most 60 s).
std::chrono::milliseconds RetryDelay(int nextAttempt, const std::string& replyHeader,
                                     std::chrono::system_clock::time_point now);

// The wait a Retry-After header line asks for, when the header has a valid one.
std::optional<std::chrono::milliseconds> RetryAfter(const std::string& replyHeader,
                                                    std::chrono::system_clock::time_point now);

}  // namespace pellora
