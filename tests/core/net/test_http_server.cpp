#include "net/test_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <utility>

namespace pellora::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIoLimitMs = 5000;
constexpr auto kHandshakeLimit = std::chrono::seconds(5);
constexpr size_t kTlsWriteSize = 65536;

// Waits for `events` on fd for at most the I/O limit; false when nothing came.
bool WaitFor(int fd, short events, int ms = kIoLimitMs) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, ms) > 0;
}

int MsUntil(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

int ListenOnLoopback(int& port, bool ipv6) {
  const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("test server: socket failed");
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage address{};
  socklen_t size = 0;
  if (ipv6) {
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
    in6.sin6_family = AF_INET6;
    in6.sin6_addr = in6addr_loopback;
    size = sizeof in6;
  } else {
    auto& in4 = reinterpret_cast<sockaddr_in&>(address);
    in4.sin_family = AF_INET;
    in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    size = sizeof in4;
  }
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (::bind(fd, raw, size) != 0 || ::listen(fd, 16) != 0 || ::getsockname(fd, raw, &size) != 0) {
    ::close(fd);
    throw std::runtime_error(std::string("test server: cannot listen on ") +
                             (ipv6 ? "::1" : "127.0.0.1"));
  }
  port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                    : reinterpret_cast<sockaddr_in&>(address).sin_port);
  return fd;
}

enum class SslOutcome { Done, Failed, TimedOut };

// Runs an OpenSSL call on a non-blocking socket (`call` returns 1 on success) again each
// time the socket becomes ready, until it succeeds, fails, or `until` passes.
template <typename Call>
SslOutcome RunSsl(SSL* ssl, int fd, Clock::time_point until, Call call) {
  for (;;) {
    ERR_clear_error();
    const int result = call();
    if (result == 1) return SslOutcome::Done;
    const int error = SSL_get_error(ssl, result);
    const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                         : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                         : 0;
    if (events == 0) {
      ERR_clear_error();  // this thread's queue must not carry stale failures on
      return SslOutcome::Failed;
    }
    if (!WaitFor(fd, events, MsUntil(until))) return SslOutcome::TimedOut;
  }
}

std::string OpenSslError(const std::string& what) {
  std::string message = "test server: " + what;
  if (const unsigned long code = ERR_get_error(); code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += " (" + std::string(text) + ")";
  }
  ERR_clear_error();
  return message;
}

SSL_CTX* MakeServerContext(const TestCertificate& certificate) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr) throw std::runtime_error(OpenSslError("no TLS context"));
  static const unsigned char kSessionContext[] = "pellora-test-server";
  if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_session_id_context(context, kSessionContext, sizeof kSessionContext - 1) != 1 ||
      SSL_CTX_use_certificate_chain_file(context, certificate.CertPath.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, certificate.KeyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context) != 1) {
    const std::string message = OpenSslError("cannot serve " + certificate.CertPath);
    SSL_CTX_free(context);
    throw std::runtime_error(message);
  }
  return context;
}

}  // namespace

TestConnection::TestConnection(int fd, std::function<void(const std::string&)> record)
    : fd_(fd), record_(std::move(record)) {}

TestConnection::TestConnection(int fd, SSL* ssl, std::function<void(const std::string&)> record)
    : fd_(fd), ssl_(ssl), record_(std::move(record)) {}

TestConnection::~TestConnection() {
  Close();
}

long TestConnection::ReadChunk(char* buffer, size_t size, int ms) {
  if (fd_ < 0 || peer_closed_) return 0;
  if (ssl_ == nullptr) {
    if (!WaitFor(fd_, POLLIN, ms)) return -1;
    const ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n > 0) return n;
    peer_closed_ = true;
    return 0;
  }
  size_t n = 0;
  switch (RunSsl(ssl_, fd_, Clock::now() + std::chrono::milliseconds(ms),
                 [&] { return SSL_read_ex(ssl_, buffer, size, &n); })) {
    case SslOutcome::Done:
      return static_cast<long>(n);
    case SslOutcome::TimedOut:
      return -1;
    case SslOutcome::Failed:
      break;
  }
  // close_notify, or a stream that just ended or broke: no alert may follow those.
  if ((SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) == 0) broken_ = true;
  peer_closed_ = true;
  return 0;
}

std::string TestConnection::ReadRequest() {
  std::string request;
  for (;;) {
    const size_t end = pending_.find("\r\n\r\n");
    if (end != std::string::npos) {
      request = pending_.substr(0, end + 4);
      pending_.erase(0, end + 4);
      break;
    }
    char chunk[4096];
    const long n = ReadChunk(chunk, sizeof chunk, kIoLimitMs);
    if (n < 0) break;
    if (n == 0) {
      request = std::move(pending_);
      pending_.clear();
      break;
    }
    pending_.append(chunk, static_cast<size_t>(n));
  }
  record_(request);
  return request;
}

std::string TestConnection::ReadBytes(size_t count) {
  while (pending_.size() < count) {
    char chunk[65536];
    const long n = ReadChunk(chunk, sizeof chunk, kIoLimitMs);
    if (n <= 0) break;
    pending_.append(chunk, static_cast<size_t>(n));
  }
  std::string result = pending_.substr(0, count);
  pending_.erase(0, result.size());
  return result;
}

std::string TestConnection::ReadSome(std::chrono::milliseconds limit) {
  if (pending_.empty()) {
    char chunk[65536];
    const long n = ReadChunk(chunk, sizeof chunk, static_cast<int>(limit.count()));
    if (n > 0) pending_.append(chunk, static_cast<size_t>(n));
  }
  return std::exchange(pending_, {});
}

void TestConnection::Send(std::string_view data) {
  if (ssl_ != nullptr) {
    while (!data.empty() && fd_ >= 0) {
      // Without partial writes a write completes whole; each piece gets the full limit.
      const size_t size = std::min(data.size(), kTlsWriteSize);
      size_t written = 0;
      const auto until = Clock::now() + std::chrono::milliseconds(kIoLimitMs);
      if (RunSsl(ssl_, fd_, until, [&] {
            return SSL_write_ex(ssl_, data.data(), size, &written);
          }) != SslOutcome::Done) {
        broken_ = true;  // half a record may be out: nothing can follow it
        return;          // the client has gone; the test sees that on its side
      }
      data.remove_prefix(written);
    }
    return;
  }
  while (!data.empty() && fd_ >= 0) {
    const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // the client has gone; the test sees that on its side
    }
  }
}

void TestConnection::Pause(std::chrono::milliseconds time) {
  std::this_thread::sleep_for(time);
}

void TestConnection::WaitForClose(std::chrono::milliseconds limit) {
  const auto until = Clock::now() + limit;
  char chunk[4096];
  while (fd_ >= 0) {
    const int left = MsUntil(until);
    if (left <= 0 || ReadChunk(chunk, sizeof chunk, left) <= 0) return;
  }
}

void TestConnection::Close() {
  if (ssl_ != nullptr && fd_ >= 0 && !broken_) {
    // One close_notify, not waiting for the client's: that is how servers end a reply.
    RunSsl(ssl_, fd_, Clock::now() + std::chrono::seconds(1), [&] {
      const int result = SSL_shutdown(ssl_);
      return result == 0 ? 1 : result;
    });
  }
  Release();
}

void TestConnection::Cut() {
  Release();  // no SSL_shutdown: the stream just stops
}

void TestConnection::Release() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  ssl_ = nullptr;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string TestConnection::ServerName() const {
  const char* name =
      ssl_ != nullptr ? SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name) : nullptr;
  return name != nullptr ? name : "";
}

TestHttpServer::TestHttpServer(Handler handler) : TestHttpServer(std::move(handler), {}) {}

TestHttpServer::TestHttpServer(Handler handler, TestServerOptions options)
    : handler_(std::move(handler)), ipv6_(options.Ipv6), concurrent_(options.Concurrent) {
  if (options.Tls != nullptr) tls_ = MakeServerContext(*options.Tls);
  try {
    listen_fd_ = ListenOnLoopback(port_, ipv6_);
  } catch (...) {
    SSL_CTX_free(tls_);
    throw;
  }
  thread_ = std::thread([this] { Serve(); });
}

TestHttpServer::~TestHttpServer() {
  stop_ = true;
  thread_.join();
  for (std::thread& thread : connection_threads_) thread.join();
  ::close(listen_fd_);
  SSL_CTX_free(tls_);
}

std::string TestHttpServer::Origin() const {
  return OriginFor(ipv6_ ? "::1" : "127.0.0.1");
}

std::string TestHttpServer::OriginFor(const std::string& host) const {
  const bool bracket = host.find(':') != std::string::npos && host.front() != '[';
  return std::string(tls_ != nullptr ? "https" : "http") + "://" +
         (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port_);
}

std::vector<std::string> TestHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void TestHttpServer::AwaitHandshake() const {
  // A handshake never lasts longer than its own limit; the margin covers a slow machine.
  const auto until = Clock::now() + kHandshakeLimit + std::chrono::seconds(1);
  while (handshaking_.load() && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int TestHttpServer::HandshakeFailures() const {
  AwaitHandshake();
  return handshake_failures_.load();
}

int TestHttpServer::ResumedHandshakes() const {
  AwaitHandshake();
  return resumed_handshakes_.load();
}

bool TestHttpServer::Ipv6LoopbackAvailable() {
  static const bool available = [] {
    try {
      int port = 0;
      ::close(ListenOnLoopback(port, true));
      return true;
    } catch (const std::runtime_error&) {
      return false;
    }
  }();
  return available;
}

bool TestHttpServer::Handshake(SSL* ssl, int fd) const {
  return SSL_set_fd(ssl, fd) == 1 && RunSsl(ssl, fd, Clock::now() + kHandshakeLimit,
                                            [&] { return SSL_accept(ssl); }) == SslOutcome::Done;
}

void TestHttpServer::Serve() {
  // OpenSSL writes to the socket with write(), so a client that hung up would raise
  // SIGPIPE; blocked on this thread, the write fails with EPIPE instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  while (!stop_) {
    if (!WaitFor(listen_fd_, POLLIN, 20)) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr,
                             SOCK_CLOEXEC | (tls_ != nullptr ? SOCK_NONBLOCK : 0));
    if (fd < 0) continue;
    // Set before the handshake starts, so that no client can see it fail before it is set.
    handshaking_ = true;
    connections_.fetch_add(1);
    SSL* ssl = nullptr;
    if (tls_ != nullptr) {
      ssl = SSL_new(tls_);
      if (ssl == nullptr || !Handshake(ssl, fd)) {
        SSL_free(ssl);
        ::close(fd);
        handshake_failures_.fetch_add(1);
        handshaking_ = false;
        continue;
      }
      if (SSL_session_reused(ssl) == 1) resumed_handshakes_.fetch_add(1);
    }
    handshaking_ = false;
    auto serve = [this, fd, ssl] {
      TestConnection connection(fd, ssl, [this](const std::string& request) {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      });
      try {
        handler_(connection);
      } catch (...) {
        // A failing script shows in the client's assertions.
      }
    };
    if (concurrent_) {
      connection_threads_.emplace_back(serve);
    } else {
      serve();
    }
  }
}

std::string Reply(std::string_view status, const std::vector<std::string>& headers,
                  std::string_view body) {
  std::string reply = "HTTP/1.0 " + std::string(status) + "\r\n";
  for (const std::string& header : headers) reply += header + "\r\n";
  reply += "\r\n";
  reply += body;
  return reply;
}

int UnusedPort() {
  int port = 0;
  const int fd = ListenOnLoopback(port, false);
  ::close(fd);  // nothing listens there any more
  return port;
}

}  // namespace pellora::testing

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pellora::testing {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pelXXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace pellora::testing
