#include "core/net/stream_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/net/host_lookup.h"
#include "core/net/tls_channel.h"
#include "core/net/winsock_message.h"

namespace pellora {

namespace {

constexpr auto kSlice = std::chrono::milliseconds(10);
std::atomic<int> live_instances{0};

}  // namespace

// ---------------------------------------------------------------- lifecycle

TStreamSocket::TStreamSocket() : buffer_(new char[kBufferSize + 1]), rx_(new char[kBufferSize]) {
  StatusMessage(8, "Create");
  buffer_[kBufferSize] = '\0';
  InitWinsock();
}

TStreamSocket::~TStreamSocket() {
  // No event reaches the owner during destruction: what its handlers capture may
  // already be gone.
  destroying_ = true;
  StatusMessage(8, "Destroy");
  TStreamSocket::Abort();
  Cancel();
  try {
    RequestCloseSocket();
  } catch (...) {
    // A failing close of a socket that is going away anyway has nobody to report to.
  }
  live_instances.fetch_sub(1);
}

int TStreamSocket::InstanceCount() {
  return live_instances.load();
}

void TStreamSocket::InitWinsock() {
  StatusMessage(8, "Initializing Winsock");
  const bool first = live_instances.fetch_add(1) == 0;
  if (first) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    WSInfo = {"Version= 1.1",
              "High Version= 1.1",
              "Description= POSIX sockets",
              "System= Running",
              "Max Sockets= " + std::to_string(files.rlim_cur),
              "Max Udp pack size= 65507"};
  }
  try {
    CreateSocket(true);
  } catch (...) {
    live_instances.fetch_sub(1);
    throw ESockError("Initializaton of windows sockets failed");
  }
}

void TStreamSocket::CreateSocket(bool zero_linger, int family) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    RecordErrno(errno);
    ErrorManager(kErrWouldBlock);
    throw ESockError(SocketErrorStr(last_error_));
  }
  // A request follows the TLS handshake or an earlier write at once; waiting for the
  // server's delayed acknowledgement first would cost up to 40 ms per file.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (zero_linger) {
    // Closing this socket discards unsent data and resets the connection.
    linger option{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  }
  fd_ = fd;
  zero_linger_ = zero_linger;
  fd_family_ = family;
  fd_used_ = false;
  DropPending();  // a new connection starts with nothing unread
}

void TStreamSocket::RequestCloseSocket() {
  StatusMessage(4, "Request Close Socket");
  connected_ = false;
  if (tls_) {
    tls_->Shutdown();
    tls_.reset();
  }
  if (fd_ < 0) return;
  const int old = fd_;
  fd_ = -1;
  if (::close(old) != 0 && errno != EINTR) {
    RecordErrno(errno);
    ErrorManager(kErrWouldBlock);
  }
  if (destroying_) return;
  if (OnDisconnect) OnDisconnect(*this);
  CreateSocket(false);
}

void TStreamSocket::Close(int handle) {
  StatusMessage(8, "Closing Socket");
  if (handle == fd_) {
    fd_ = -1;
    tls_.reset();
  }
  if (handle >= 0 && ::close(handle) != 0 && errno != EINTR) {
    RecordErrno(errno);
    ErrorManager(kErrWouldBlock);
  }
}

// ---------------------------------------------------------------- connection

void TStreamSocket::Connect() {
  StatusMessage(8, "Connecting");
  canceled_ = false;  // a cancel that came before Connect is forgotten
  ProcessCloseNotification();
  if (connected_) throw ESockError("Already connected");
  if (fd_ < 0) CreateSocket(false);

  for (int pass = 0;; ++pass) {
    try {
      ResolveRemoteHost();
    } catch (const ESockError& error) {
      const std::string text = error.what();
      if (text == "Host Lookup Timed Out" || text == "Host Lookup Canceled") throw;
      peers_.clear();
    }
    if (!peers_.empty()) break;
    bool handled = false;
    if (pass == 0 && OnInvalidHost) OnInvalidHost(handled);
    if (!handled) throw ESockError("Null Remote Address");
  }
  peer_port_ = static_cast<uint16_t>(Proxy.empty() ? Port : ProxyPort);

  lookup_done_ = false;
  TimerOn();
  // Each address gets an equal share of what is left of the period, so one that
  // never answers cannot use up the time of those after it.
  for (size_t i = 0; i < peers_.size() && !connected_ && !timed_out_ && !canceled_; ++i) {
    auto until = std::chrono::steady_clock::time_point::max();
    if (timer_enabled_) {
      until = std::chrono::steady_clock::now() +
              (deadline_ - std::chrono::steady_clock::now()) / static_cast<int>(peers_.size() - i);
    }
    TNetAddress address = peers_[i];
    address.SetPort(peer_port_);
    if (ConnectTo(address, until)) peer_ = address;
  }
  TimerOff();
  if (connected_ && !timed_out_ && !canceled_) {
    if (OnConnect) OnConnect(*this);
    if (Secure && Proxy.empty()) StartTls(Host, static_cast<uint16_t>(Port));
    return;
  }
  const bool timed_out = timed_out_;
  const bool canceled = canceled_;
  canceled_ = false;
  if (OnConnectionFailed) OnConnectionFailed(*this);
  if (timed_out) throw ESockError("Connection Timed out");
  if (canceled) throw ESockError("Connection Canceled");
  // The reason the connection failed ("10061:Connection refused") tells the person
  // more than a bare "Connection Failed".
  if (platform_error_ > 10000) {
    ErrorManager(0);
  }
  throw ESockError("Connection Failed");
}

bool TStreamSocket::ConnectTo(const TNetAddress& address,
                              std::chrono::steady_clock::time_point until) {
  if (fd_ < 0 || fd_used_ || address.Family() != fd_family_) {
    // A socket of the address's family that no earlier attempt has touched.
    const bool zero_linger = fd_ >= 0 && zero_linger_;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    CreateSocket(zero_linger, address.Family());
  }
  fd_used_ = true;
  notification_ok_ = true;
  if (::connect(fd_, address.Raw(), address.Size) != 0) {
    const int err = errno;
    if (err != EINPROGRESS && err != EINTR) {
      RecordErrno(err);
      return false;
    }
  } else {
    connected_ = true;
  }
  while (!connected_ && !timed_out_ && !canceled_ && notification_ok_ &&
         std::chrono::steady_clock::now() < until) {
    const short events = WaitSlice(fd_, POLLOUT);
    if (events & (POLLOUT | POLLERR | POLLHUP)) {
      int err = 0;
      socklen_t size = sizeof err;
      ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &size);
      if (err == 0) {
        connected_ = true;
      } else {
        notification_ok_ = false;
        RecordErrno(err);
      }
    }
  }
  if (!connected_ && notification_ok_ && !timed_out_ && !canceled_) {
    RecordErrno(ETIMEDOUT);  // this address's share ran out; the next one may answer
  }
  return connected_;
}

void TStreamSocket::StartTls(const std::string& host, uint16_t port) {
  StatusMessage(8, "TLS Handshake");
  if (!connected_) throw ESockError("Not Connected");
  if (!tls_context_ || tls_context_->ExtraCaFile() != TlsCaFile) {
    tls_context_ = std::make_shared<TTlsContext>(TlsCaFile);
  }
  // Bytes read ahead before TLS starts cannot belong to it.
  if (Pending() > 0) throw ESockError("TLS handshake failed: unexpected data before it");
  tls_ = std::make_unique<TTlsChannel>(tls_context_, fd_, host, port);
  TimerOn();
  for (;;) {
    if (timed_out_ || canceled_) {
      const bool timed_out = timed_out_;
      TimerOff();
      canceled_ = false;
      throw ESockError(timed_out ? "TLS Handshake Timed out" : "TLS Handshake Canceled");
    }
    int step = 0;
    try {
      step = tls_->Handshake();
    } catch (...) {
      TimerOff();
      throw;
    }
    if (step == 1) break;
    if (step < 0) {
      TimerOff();
      RecordErrno(errno);
      ErrorManager(kErrWouldBlock);
      throw ESockError("TLS handshake failed");
    }
    WaitSlice(fd_, tls_->WantedEvents());
  }
  TimerOff();
}

bool TStreamSocket::TlsResumed() const {
  return tls_ && tls_->Resumed();
}

void TStreamSocket::ResolveRemoteHost() {
  StatusMessage(8, "Resolve Host");
  const std::string name = Proxy.empty() ? Host : Proxy;
  peers_.clear();
  if (const auto numeric = NumericAddress(name)) {
    peers_.push_back(*numeric);
    return;
  }
  if (name.empty() || name.find('\0') != std::string::npos) {
    SetLastErrorNo(kErrHostNotFound);
    throw ESockError("Host Lookup Failed");
  }
  if (Resolver) {
    peers_ = Resolver(name);
    if (peers_.empty()) {
      SetLastErrorNo(kErrHostNotFound);
      throw ESockError("Host Lookup Failed");
    }
    if (OnHostResolved) OnHostResolved(*this);
    return;
  }
  TimerOn();
  lookup_done_ = false;
  THostLookup lookup(name);
  while (!lookup_done_ && !timed_out_ && !canceled_) {
    WaitSlice(lookup.WaitFd(), POLLIN);
    if (lookup.Done()) lookup_done_ = true;
  }
  TimerOff();
  if (timed_out_) throw ESockError("Host Lookup Timed Out");
  if (canceled_) throw ESockError("Host Lookup Canceled");
  if (lookup.Done() && lookup.Error() == 0 && !lookup.Addresses().empty()) {
    peers_ = lookup.Addresses();
    if (OnHostResolved) OnHostResolved(*this);
    return;
  }
  if (lookup.Done()) SetLastErrorNo(lookup.Error());
  throw ESockError("Host Lookup Failed");
}

void TStreamSocket::Disconnect() {
  StatusMessage(8, "Disconnecting");
  RequestCloseSocket();
}

void TStreamSocket::CertifyConnect() {
  StatusMessage(8, "Checking Connection");
  ProcessCloseNotification();
  if (!connected_) {
    if (OnNotConnected) OnNotConnected();
    throw std::runtime_error("Not Connected");
  }
}

void TStreamSocket::Cancel() {
  StatusMessage(8, "Canceling");
  canceled_ = true;
}

void TStreamSocket::Abort() {
  StatusMessage(8, "Abort");
  Cancel();
}

// The peer's close, noticed when nothing unread is left: the socket is replaced at
// once so that Connect works again. With unread data the reader meets the end itself.
void TStreamSocket::ProcessCloseNotification() {
  if (!connected_ || fd_ < 0 || Pending() > 0 || (tls_ && tls_->Buffered() > 0)) return;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return;
  char byte = 0;
  const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    RequestCloseSocket();
  }
}

// ---------------------------------------------------------------- waiting

short TStreamSocket::WaitSlice(int fd, short events) {
  auto wait = kSlice;
  if (timer_enabled_) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    wait = std::clamp(left, std::chrono::milliseconds(0), wait);
  }
  pollfd p{fd, events, 0};
  short revents = 0;
  if (::poll(&p, fd >= 0 ? 1 : 0, static_cast<int>(wait.count())) > 0) revents = p.revents;
  PumpAndCheckTimer();
  return revents;
}

void TStreamSocket::PumpAndCheckTimer() {
  last_pump_ = std::chrono::steady_clock::now();
  if (OnPump) OnPump();
  CheckTimer();
}

void TStreamSocket::PumpIfDue() {
  if (std::chrono::steady_clock::now() - last_pump_ >= kSlice) PumpAndCheckTimer();
}

void TStreamSocket::CheckTimer() {
  if (timer_enabled_ && std::chrono::steady_clock::now() >= deadline_) TimerFired();
}

void TStreamSocket::TimerOn() {
  StatusMessage(8, "Timer On");
  timed_out_ = false;
  timer_enabled_ = TimeOut != 0;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeOut);
}

void TStreamSocket::TimerOff() {
  StatusMessage(8, "Timer Off");
  timer_enabled_ = false;
}

void TStreamSocket::TimerFired() {
  StatusMessage(8, "Timer Triggered");
  TimerOff();
  timed_out_ = true;
  lookup_done_ = true;
  Abort();
}

void TStreamSocket::RaiseAborted(const char* text) {
  canceled_ = false;
  throw EAbortError(text);
}

// ---------------------------------------------------------------- errors and status

int32_t TStreamSocket::RecordErrno(int err) {
  platform_error_ = SocketErrorFromErrno(err);
  last_error_ = platform_error_;
  return last_error_;
}

void TStreamSocket::ErrorManager(int32_t ignored) {
  last_error_ = platform_error_;
  const int32_t number = last_error_;
  if (number == ignored || number <= 10000) return;
  const std::string text = SocketErrorStr(number);
  if (OnError) OnError(*this, number, text);
  throw ESockError(text);
}

void TStreamSocket::SetWSAError(int32_t number, const std::string& text) {
  StatusMessage(8, "Setting Winsock Error");
  last_error_ = number;
  platform_error_ = number;
  if (OnError) OnError(*this, number, text.empty() ? SocketErrorStr(number) : text);
}

std::string TStreamSocket::SocketErrorStr(int32_t number) {
  StatusMessage(8, "Looking Up Error Message");
  if (number == 0) return {};
  for (const TWinsockMessage& row : WinsockMessage()) {
    if (row.Number == number) return std::to_string(number) + ":" + row.Text;
  }
  return "Unknown Error No. " + std::to_string(number);
}

int32_t TStreamSocket::GetLastErrorNo() {
  StatusMessage(8, "Getting LastError Number");
  return last_error_;
}

void TStreamSocket::SetLastErrorNo(int32_t number) {
  StatusMessage(8, "Setting LastError Number");
  last_error_ = number;
}

void TStreamSocket::StatusMessage(uint8_t level, const std::string& text) {
  if (ReportLevel < level) return;
  try {
    last_status_ = text;
    if (OnStatus && !destroying_) OnStatus(*this, text);
  } catch (...) {
    // A status observer must never break the operation it observes.
  }
}

// ---------------------------------------------------------------- addresses

std::string TStreamSocket::GetRemoteIP() {
  StatusMessage(8, "Getting Remote IP");
  return peer_.Text();
}

std::string TStreamSocket::GetLocalIP() {
  StatusMessage(8, "Getting Local IP");
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  const auto* b = reinterpret_cast<const unsigned char*>(&address->sin_addr.s_addr);
  const std::string text = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
                           std::to_string(b[2]) + "." + std::to_string(b[3]);
  ::freeaddrinfo(result);
  return text;
}

std::string TStreamSocket::GetLocalAddress() {
  TNetAddress local;
  local.Size = sizeof local.Storage;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local.Storage), &local.Size) != 0) {
    RecordErrno(errno);
    ErrorManager(kErrWouldBlock);
  }
  std::string text = local.Text();
  int replaced = 0;
  for (char& c : text) {
    if (c == '.' && replaced < 3) {
      c = ',';
      ++replaced;
    }
  }
  return text;
}

std::string TStreamSocket::GetPortString() {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    RecordErrno(errno);
    ErrorManager(kErrWouldBlock);
  }
  // Both address families keep the port at the same place.
  const unsigned port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xff);
}

}  // namespace pellora
