// Sending and receiving of TStreamSocket.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/net/stream_socket.h"
#include "core/net/tls_channel.h"
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

// ---------------------------------------------------------------- raw I/O

ssize_t TStreamSocket::RawSend(const char* data, size_t length) {
  return tls_ ? tls_->Write(data, length) : ::send(fd_, data, length, kSendFlags);
}

ssize_t TStreamSocket::RawReceive(char* data, size_t length) {
  return tls_ ? tls_->Read(data, length) : ::recv(fd_, data, length, MSG_DONTWAIT);
}

short TStreamSocket::IoEvents(short events) const {
  return tls_ && tls_->WantedEvents() != 0 ? tls_->WantedEvents() : events;
}

// ---------------------------------------------------------------- sending

void TStreamSocket::SendAll(const char* data, size_t length, bool count_sent) {
  size_t sent = 0;
  while (sent < length) {
    if (canceled_) return;
    const ssize_t n = RawSend(data + sent, length - sent);
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
      WaitSlice(fd_, IoEvents(POLLOUT));
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

ssize_t TStreamSocket::ReceiveAhead() {
  if (rx_begin_ > 0) {  // keep the pending bytes at the start, the room after them
    std::memmove(rx_.get(), rx_.get() + rx_begin_, Pending());
    rx_end_ -= rx_begin_;
    rx_begin_ = 0;
  }
  const ssize_t n = RawReceive(rx_.get() + rx_end_, kBufferSize - rx_end_);
  if (n > 0) rx_end_ += static_cast<size_t>(n);
  return n;
}

std::string TStreamSocket::Read(uint16_t count) {
  StatusMessage(8, "Read( " + std::to_string(count) + " )");
  if (count > 0) {
    // Waits until `count` bytes are there, or the peer closes.
    while (Pending() < count) {
      if (canceled_) RaiseAborted("Socket send aborted");
      const ssize_t n = ReceiveAhead();
      if (n == 0) break;
      if (n < 0) {
        if (!WouldBlock(errno)) {
          RecordErrno(errno);
          if (last_error_ == kErrNotConnected) break;
          ErrorManager(kErrWouldBlock);
        }
        WaitSlice(fd_, IoEvents(POLLIN));
      }
    }
  } else if (Pending() == 0) {
    ReceiveAhead();
  }
  const size_t take = count > 0 ? std::min<size_t>(count, Pending()) : Pending();
  std::string result(rx_.get() + rx_begin_, take);
  rx_begin_ += take;
  return result;
}

std::string TStreamSocket::ReadLn() {
  StatusMessage(8, "ReadLn");
  TimerOn();
  TimerGuard guard{[this] { TimerOff(); }};
  size_t searched = 0;  // pending bytes already known to hold no line feed
  for (;;) {
    if (canceled_) RaiseAborted("Socket readln aborted");
    const char* const start = rx_.get() + rx_begin_;
    const char* const end = rx_.get() + rx_end_;
    const char* const lf = std::find(start + searched, end, '\n');
    if (lf != end) {
      // Only the line is handed out; what follows it stays for the next read.
      std::string line(start, lf + 1);
      rx_begin_ += line.size();
      return line;
    }
    searched = Pending();
    if (searched == kBufferSize) {
      throw ESockError("Line longer than " + std::to_string(kBufferSize) + " bytes received");
    }
    const ssize_t n = ReceiveAhead();
    if (n == 0) {
      DropPending();  // the peer closed in the middle of a line
      return {};
    }
    if (n < 0) {
      if (WouldBlock(errno)) {
        WaitSlice(fd_, IoEvents(POLLIN));
        continue;
      }
      RecordErrno(errno);
      if (last_error_ == kErrNotConnected) return {};
      ErrorManager(kErrWouldBlock);
      continue;
    }
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
                                  const char* abort_text, bool timed, int64_t limit) {
  ReceivedCount = 0;
  if (limit == 0) return;
  if (timed) TimerOn();
  TimerGuard guard{[this, timed] {
    if (timed) TimerOff();
  }};
  if (Pending() > 0) {
    // What came with the last line read belongs to this capture (up to the limit).
    size_t n = Pending();
    if (limit > 0) n = static_cast<size_t>(std::min<int64_t>(limit, static_cast<int64_t>(n)));
    const char* const data = rx_.get() + rx_begin_;
    DropPending();
    ReceivedCount += static_cast<int64_t>(n);
    const bool more = store(data, n);
    if (OnPacketRecvd) OnPacketRecvd(*this);
    if (!more || ReceivedCount == limit) return;
  }
  for (;;) {
    if (canceled_) RaiseAborted(abort_text);
    size_t room = kBufferSize;
    if (limit > 0)
      room = static_cast<size_t>(std::min<int64_t>(limit - ReceivedCount, kBufferSize));
    const ssize_t n = RawReceive(buffer_.get(), room);
    if (n > 0) {
      ReceivedCount += n;
      const bool more = store(buffer_.get(), static_cast<size_t>(n));
      if (OnPacketRecvd) OnPacketRecvd(*this);
      if (timed) TimerOn();  // the time-out limits silence, not the whole transfer
      if (!more || ReceivedCount == limit) return;
      PumpIfDue();
      continue;
    }
    if (n == 0) return;
    if (WouldBlock(errno)) {
      WaitSlice(fd_, IoEvents(POLLIN));
      continue;
    }
    RecordErrno(errno);
    if (last_error_ == kErrNotConnected) return;
    ErrorManager(kErrWouldBlock);
  }
}

void TStreamSocket::CaptureFile(const std::string& path) {
  CaptureFile(path, -1);
}

void TStreamSocket::CaptureFile(const std::string& path, int64_t length) {
  StatusMessage(8, "CaptureFile");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw EFileError("Cannot create file \"" + path + "\"");
  TimerGuard closer{[fd] { ::close(fd); }};
  // Truncate only a file that has content: truncating an empty one makes some
  // file systems flush it to disk on close, which costs more than the transfer.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || (info.st_size > 0 && ::ftruncate(fd, 0) != 0)) {
    throw EFileError("Cannot create file \"" + path + "\"");
  }
  ReceiveChunks(
      [&](const char* data, size_t size) {
        while (size > 0) {
          const ssize_t n = ::write(fd, data, size);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) throw EFileError("Cannot write file \"" + path + "\"");
          data += n;
          size -= static_cast<size_t>(n);
        }
        return true;
      },
      "Socket send aborted", true, length);
}

void TStreamSocket::AppendFile(const std::string& path) {
  StatusMessage(8, "Append File");
  std::ofstream file(path, std::ios::binary | std::ios::in | std::ios::ate);
  if (!file) throw EFileError("Cannot open file \"" + path + "\"");
  ReceivedCount = 0;
  if (Pending() > 0) {
    file.write(rx_.get() + rx_begin_, static_cast<std::streamsize>(Pending()));
    if (!file) throw EFileError("Cannot write file \"" + path + "\"");
    ReceivedCount += static_cast<int64_t>(Pending());
    DropPending();
  }
  while (connected_) {
    if (canceled_) RaiseAborted("Socket send aborted");
    const ssize_t n = RawReceive(buffer_.get(), kBufferSize);
    if (n > 0) {
      file.write(buffer_.get(), n);
      if (!file) throw EFileError("Cannot write file \"" + path + "\"");
      ReceivedCount += n;
      if (OnPacketRecvd) OnPacketRecvd(*this);
      PumpIfDue();
    } else if (n == 0) {
      RequestCloseSocket();  // the peer closed and nothing is left unread
    } else if (WouldBlock(errno)) {
      WaitSlice(fd_, IoEvents(POLLIN));
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
  if (Pending() > 0 || (tls_ && tls_->Buffered() > 0)) return true;
  char byte = 0;
  return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void TStreamSocket::ClearInput() {
  StatusMessage(8, "Clearing Input");
  DropPending();
  [[maybe_unused]] const ssize_t n = RawReceive(buffer_.get(), kBufferSize);
}

}  // namespace pellora
