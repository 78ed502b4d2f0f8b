// Sending and receiving of TStreamSocket.
#include <poll.h>
#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/net/stream_socket.h"
#include "core/net/winsock_message.h"

namespace pellora {

namespace {

constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;

bool WouldBlock(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

// Disarms the time-out on every way out of an operation that armed it.
template <typename Off>
struct TimerGuard {
  Off off;
  ~TimerGuard() { off(); }
};
template <typename Off>
TimerGuard(Off) -> TimerGuard<Off>;

}  // namespace

// ---------------------------------------------------------------- sending

void TStreamSocket::SendAll(const char* data, size_t length, bool count_sent) {
  size_t sent = 0;
  while (sent < length) {
    if (canceled_) return;
    const ssize_t n = ::send(fd_, data + sent, length - sent, kSendFlags);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      if (count_sent) {
        SentCount += n;
        if (OnPacketSent) OnPacketSent(*this);
      }
      PumpIfDue();
    } else if (n == 0) {
      return;
    } else if (WouldBlock(errno)) {
      WaitSlice(fd_, POLLOUT);
    } else {
      RecordErrno(errno);
      ErrorManager(kErrWouldBlock);
    }
  }
}

void TStreamSocket::SendBuffer(const char* buffer, size_t length) {
  StatusMessage(4, "Sending Buffer");
  TimerOn();
  TimerGuard guard{[this] { TimerOff(); }};
  if (!canceled_) SendAll(buffer, length == 0 ? std::strlen(buffer) : length, false);
  if (canceled_) RaiseAborted("Socket send aborted");
}

void TStreamSocket::Write(const std::string& text) {
  StatusMessage(8, "Write");
  // The whole text goes out, also beyond the size of the I/O buffer and past a zero
  // byte: a cut request would be a different request.
  if (text.empty()) {
    if (canceled_) RaiseAborted("Socket send aborted");
    return;
  }
  SendBuffer(text.data(), text.size());
}

void TStreamSocket::Writeln(const std::string& text) {
  StatusMessage(8, "Writeln");
  Write(text + "\r\n");
}

void TStreamSocket::SendFile(const std::string& path) {
  StatusMessage(8, "SendFile");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw EFileError("Cannot open file \"" + path + "\"");
  while (!canceled_) {
    file.read(buffer_.get(), kBufferSize);
    const auto got = static_cast<size_t>(file.gcount());
    if (got == 0) break;
    SendAll(buffer_.get(), got, true);
    PumpIfDue();
  }
  if (file.bad()) throw EFileError("Cannot read file \"" + path + "\"");
  if (canceled_) RaiseAborted("Socket send aborted");
}

void TStreamSocket::SendStream(std::istream& stream) {
  StatusMessage(8, "SendStream");
  SentCount = 0;
  stream.clear();
  stream.seekg(0, std::ios::end);
  ExpectedLength = std::max<int64_t>(0, static_cast<int64_t>(stream.tellg()));
  stream.seekg(0, std::ios::beg);
  while (!canceled_) {
    stream.read(buffer_.get(), kBufferSize);
    const auto got = static_cast<size_t>(stream.gcount());
    if (got == 0) break;
    const int64_t before = SentCount;
    SendAll(buffer_.get(), got, true);
    if (SentCount == before) break;  // a send of 0 bytes ends the stream
    PumpIfDue();
  }
  if (canceled_) RaiseAborted("Socket send aborted");
}

// ---------------------------------------------------------------- receiving

std::string TStreamSocket::Read(uint16_t count) {
  StatusMessage(8, "Read( " + std::to_string(count) + " )");
  size_t wanted = count;
  if (wanted > 0) {
    for (;;) {
      if (canceled_) RaiseAborted("Socket send aborted");
      const ssize_t n = ::recv(fd_, buffer_.get(), kBufferSize, MSG_PEEK | MSG_DONTWAIT);
      if (n == 0) return {};
      if (n < 0) {
        if (!WouldBlock(errno)) {
          RecordErrno(errno);
          if (last_error_ == kErrNotConnected) return {};
          ErrorManager(kErrWouldBlock);
        }
        WaitSlice(fd_, POLLIN);
      } else if (static_cast<size_t>(n) >= wanted) {
        break;
      } else {
        // Some bytes are pending, so the socket polls readable at once: sleep a slice
        // instead of spinning until the rest arrives.
        WaitSlice(-1, 0);
      }
    }
  } else {
    const ssize_t n = ::recv(fd_, buffer_.get(), kBufferSize, MSG_PEEK | MSG_DONTWAIT);
    if (n <= 0) return {};
    wanted = static_cast<size_t>(n);
  }
  std::string result;
  while (result.size() < wanted) {
    const ssize_t n = ::recv(fd_, buffer_.get(), wanted - result.size(), MSG_DONTWAIT);
    if (n <= 0) break;
    result.append(buffer_.get(), static_cast<size_t>(n));
  }
  return result;
}

std::string TStreamSocket::ReadLn() {
  StatusMessage(8, "ReadLn");
  TimerOn();
  TimerGuard guard{[this] { TimerOff(); }};
  char* const buffer = buffer_.get();
  size_t taken = 0;  // bytes of the line already consumed, at the start of the buffer
  for (;;) {
    if (canceled_) RaiseAborted("Socket readln aborted");
    if (taken == kBufferSize) {
      throw ESockError("Line longer than " + std::to_string(kBufferSize) + " bytes received");
    }
    const ssize_t n = ::recv(fd_, buffer + taken, kBufferSize - taken, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return {};
    if (n < 0) {
      if (WouldBlock(errno)) {
        WaitSlice(fd_, POLLIN);
        continue;
      }
      RecordErrno(errno);
      if (last_error_ == kErrNotConnected) return {};
      ErrorManager(kErrWouldBlock);
      continue;
    }
    const char* const start = buffer + taken;
    const char* const end = start + n;
    const char* const lf = std::find(start, end, '\n');
    // Consume only up to the line feed so the next line or the body stays pending.
    const size_t consume = static_cast<size_t>((lf == end ? end : lf + 1) - start);
    size_t done = 0;
    while (done < consume) {
      const ssize_t got = ::recv(fd_, buffer + taken + done, consume - done, MSG_DONTWAIT);
      if (got <= 0) {
        if (got < 0 && WouldBlock(errno)) continue;
        if (got == 0) return {};
        RecordErrno(errno);
        ErrorManager(kErrWouldBlock);
      }
      done += static_cast<size_t>(got);
    }
    taken += consume;
    if (lf != end) return std::string(buffer, taken);
    PumpIfDue();
  }
}

std::string TStreamSocket::Transaction(const std::string& command) {
  StatusMessage(8, "Transaction");
  ReplyCode = 0;
  Writeln(command);
  last_reply_ = ReadLn();
  if (!last_reply_.empty()) {
    StatusMessage(1, last_reply_);
    size_t digits = 0;
    while (digits < last_reply_.size() && digits < 10 && last_reply_[digits] >= '0' &&
           last_reply_[digits] <= '9') {
      ++digits;
    }
    if (digits > 0) {
      int64_t value = 0;
      for (size_t i = 0; i < digits; ++i) value = value * 10 + (last_reply_[i] - '0');
      ReplyCode = static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
    }
  }
  return last_reply_;
}

void TStreamSocket::ReceiveChunks(const std::function<bool(const char*, size_t)>& store,
                                  const char* abort_text, bool timed) {
  ReceivedCount = 0;
  if (timed) TimerOn();
  TimerGuard guard{[this, timed] {
    if (timed) TimerOff();
  }};
  for (;;) {
    if (canceled_) RaiseAborted(abort_text);
    const ssize_t n = ::recv(fd_, buffer_.get(), kBufferSize, MSG_DONTWAIT);
    if (n > 0) {
      ReceivedCount += n;
      const bool more = store(buffer_.get(), static_cast<size_t>(n));
      if (OnPacketRecvd) OnPacketRecvd(*this);
      if (timed) TimerOn();  // the time-out limits silence, not the whole transfer
      if (!more) return;
      PumpIfDue();
      continue;
    }
    if (n == 0) return;
    if (WouldBlock(errno)) {
      WaitSlice(fd_, POLLIN);
      continue;
    }
    RecordErrno(errno);
    if (last_error_ == kErrNotConnected) return;
    ErrorManager(kErrWouldBlock);
  }
}

void TStreamSocket::CaptureFile(const std::string& path) {
  StatusMessage(8, "CaptureFile");
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw EFileError("Cannot create file \"" + path + "\"");
  ReceiveChunks(
      [&](const char* data, size_t size) {
        file.write(data, static_cast<std::streamsize>(size));
        if (!file) throw EFileError("Cannot write file \"" + path + "\"");
        return true;
      },
      "Socket send aborted", true);
  file.close();
  if (!file) throw EFileError("Cannot write file \"" + path + "\"");
}

void TStreamSocket::AppendFile(const std::string& path) {
  StatusMessage(8, "Append File");
  std::ofstream file(path, std::ios::binary | std::ios::in | std::ios::ate);
  if (!file) throw EFileError("Cannot open file \"" + path + "\"");
  ReceivedCount = 0;
  while (connected_) {
    if (canceled_) RaiseAborted("Socket send aborted");
    const ssize_t n = ::recv(fd_, buffer_.get(), kBufferSize, MSG_DONTWAIT);
    if (n > 0) {
      file.write(buffer_.get(), n);
      if (!file) throw EFileError("Cannot write file \"" + path + "\"");
      ReceivedCount += n;
      if (OnPacketRecvd) OnPacketRecvd(*this);
      PumpIfDue();
    } else if (n == 0) {
      RequestCloseSocket();  // the peer closed and nothing is left unread
    } else if (WouldBlock(errno)) {
      WaitSlice(fd_, POLLIN);
    } else {
      RecordErrno(errno);
      if (last_error_ == kErrNotConnected) break;
      ErrorManager(kErrWouldBlock);
    }
  }
  if (canceled_) RaiseAborted("Socket send aborted");
}

void TStreamSocket::CaptureString(std::string& text, int64_t size) {
  StatusMessage(8, "Capture String");
  text.clear();
  ReceiveChunks(
      [&](const char* data, size_t length) {
        text.append(data, length);
        return size == -1 || static_cast<int64_t>(text.size()) < size;
      },
      "Socket capture aborted", true);
}

void TStreamSocket::CaptureStream(std::ostream& stream, int64_t size) {
  StatusMessage(8, "Capture Stream");
  // The stream's size: its end, or what has been written when it cannot seek.
  int64_t stream_size = 0;
  const auto position = stream.tellp();
  if (position >= 0) {
    stream.seekp(0, std::ios::end);
    stream_size = static_cast<int64_t>(stream.tellp());
    stream.seekp(position);
  }
  ReceiveChunks(
      [&](const char* data, size_t length) {
        stream.write(data, static_cast<std::streamsize>(length));
        if (!stream) throw EFileError("Cannot write to the capture stream");
        const auto at = stream.tellp();
        stream_size = at >= 0 ? std::max<int64_t>(stream_size, at)
                              : stream_size + static_cast<int64_t>(length);
        return size != -1 && stream_size < size;
      },
      "Socket capture aborted", true);
}

void TStreamSocket::FilterHeader(std::ostream& stream) {
  StatusMessage(8, "FilterHeader");
  for (;;) {
    const std::string line = ReadLn();
    stream.write(line.data(), static_cast<std::streamsize>(line.size()));
    if (line.empty() || line == "\n" || line == "\r\n") return;
  }
}

bool TStreamSocket::DataAvailable() {
  StatusMessage(8, "Data Available");
  char byte = 0;
  return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void TStreamSocket::ClearInput() {
  StatusMessage(8, "Clearing Input");
  [[maybe_unused]] const ssize_t n = ::recv(fd_, buffer_.get(), kBufferSize, MSG_DONTWAIT);
}

}  // namespace pellora
