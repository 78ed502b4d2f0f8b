#include "net/test_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <stdexcept>

namespace pellora::testing {

namespace {

constexpr int kIoLimitMs = 5000;

// Waits for `events` on fd for at most the I/O limit; false when nothing came.
bool WaitFor(int fd, short events, int ms = kIoLimitMs) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, ms) > 0;
}

int ListenOnLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("test server: socket failed");
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd);
    throw std::runtime_error("test server: cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

TestConnection::TestConnection(int fd, std::function<void(const std::string&)> record)
    : fd_(fd), record_(std::move(record)) {}

TestConnection::~TestConnection() {
  Close();
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
    if (fd_ < 0 || !WaitFor(fd_, POLLIN)) break;
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
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
  while (pending_.size() < count && fd_ >= 0 && WaitFor(fd_, POLLIN)) {
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    pending_.append(chunk, static_cast<size_t>(n));
  }
  std::string result = pending_.substr(0, count);
  pending_.erase(0, result.size());
  return result;
}

void TestConnection::Send(std::string_view data) {
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
  const auto until = std::chrono::steady_clock::now() + limit;
  while (fd_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitFor(fd_, POLLIN, static_cast<int>(left.count()))) return;
    char chunk[4096];
    if (::recv(fd_, chunk, sizeof chunk, 0) <= 0) return;
  }
}

void TestConnection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = ListenOnLoopback(port_);
  thread_ = std::thread([this] { Serve(); });
}

TestHttpServer::~TestHttpServer() {
  stop_ = true;
  thread_.join();
  ::close(listen_fd_);
}

std::vector<std::string> TestHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void TestHttpServer::Serve() {
  while (!stop_) {
    if (!WaitFor(listen_fd_, POLLIN, 20)) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    connections_.fetch_add(1);
    TestConnection connection(fd, [this](const std::string& request) {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    });
    try {
      handler_(connection);
    } catch (...) {
      // A failing script shows in the client's assertions.
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

void ForwardAsProxy(TestConnection& connection) {
  const std::string request = connection.ReadRequest();
  // "GET http://127.0.0.1:PORT/path HTTP/1.0"
  const size_t host_at = request.find("http://");
  const size_t colon = request.find(':', host_at + 7);
  if (host_at == std::string::npos || colon == std::string::npos) return;
  const int port = std::stoi(request.substr(colon + 1));
  const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    ::send(upstream, request.data(), request.size(), MSG_NOSIGNAL);
    char chunk[65536];
    while (WaitFor(upstream, POLLIN)) {
      const ssize_t n = ::recv(upstream, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      connection.Send(std::string_view(chunk, static_cast<size_t>(n)));
    }
  }
  ::close(upstream);
}

int UnusedPort() {
  int port = 0;
  const int fd = ListenOnLoopback(port);
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
