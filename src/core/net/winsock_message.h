#pragma once

#include <cstdint>
#include <span>

namespace pellora {

// The socket error numbers the program reports, with their texts.
struct TWinsockMessage {
  int32_t Number;
  const char* Text;
};

// The 51 rows, ending with the catch-all row 0 "Unrecognized error code".
std::span<const TWinsockMessage> WinsockMessage();

// Numbers used by the socket layer's own logic.
inline constexpr int32_t kErrWouldBlock = 10035;
inline constexpr int32_t kErrNotConnected = 10057;
inline constexpr int32_t kErrConnRefused = 10061;
inline constexpr int32_t kErrHostNotFound = 11001;

// Maps a POSIX errno value to the socket error number of the table. Values without a
// counterpart become 20000 + errno, which is above 10000 and so is never taken for
// success, and reads "Unknown Error No. ..." in reports.
int32_t SocketErrorFromErrno(int err);

// Maps a getaddrinfo() result code (EAI_...) to the lookup error numbers 11001-11004.
int32_t SocketErrorFromLookup(int gai_code, int err);

}  // namespace pellora
