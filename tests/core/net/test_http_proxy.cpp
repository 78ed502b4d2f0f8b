// The proxy handlers of the test server: plain forwarding and CONNECT tunnels, to
// loopback targets only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <optional>

#include "net/test_http_server.h"

namespace pellora::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIoLimitMs = 5000;
constexpr auto kTunnelLimit = std::chrono::seconds(10);
constexpr auto kKeepAliveLimit = std::chrono::seconds(10);

struct Target {
  bool ipv6;
  int port;
};

// "127.0.0.1:P", "localhost:P", "[::1]:P" or "::1:P"; nothing for any other host.
std::optional<Target> ParseAuthority(std::string_view authority) {
  const size_t colon = authority.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view host = authority.substr(0, colon);
  const std::string_view digits = authority.substr(colon + 1);
  int port = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port <= 0 || port > 65535) {
    return std::nullopt;
  }
  if (host == "127.0.0.1" || host == "localhost") return Target{false, port};
  if (host == "[::1]" || host == "::1") return Target{true, port};
  return std::nullopt;
}

// A blocking socket connected to the target, or -1. Sends give up after the I/O limit.
int Connect(const Target& target) {
  const int fd = ::socket(target.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const timeval limit{kIoLimitMs / 1000, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int result = -1;
  if (target.ipv6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<uint16_t>(target.port));
    address.sin6_addr = in6addr_loopback;
    result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(target.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (result != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void RefuseTarget(TestConnection& client) {
  client.Send(Reply("502 Bad Gateway", {}, ""));
}

// Sends the request on verbatim and relays the reply until the target closes.
void ForwardRequest(TestConnection& client, const std::string& request, const Target& target) {
  const int upstream = Connect(target);
  if (upstream < 0) return RefuseTarget(client);
  if (SendAll(upstream, request)) {
    char chunk[65536];
    pollfd p{upstream, POLLIN, 0};
    while (::poll(&p, 1, kIoLimitMs) > 0) {
      const ssize_t n = ::recv(upstream, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      client.Send(std::string_view(chunk, static_cast<size_t>(n)));
    }
  }
  ::close(upstream);
}

// Relays bytes both ways until either side closes or the tunnel's time is up.
void Relay(TestConnection& client, int upstream) {
  const auto until = Clock::now() + kTunnelLimit;
  char chunk[65536];
  for (;;) {
    // Whatever the client sent with or after its CONNECT header is already buffered.
    const std::string from_client = client.ReadSome(std::chrono::milliseconds(0));
    if (!from_client.empty()) {
      if (!SendAll(upstream, from_client)) return;
      continue;
    }
    if (client.PeerClosed()) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return;
    pollfd sides[2] = {{client.Fd(), POLLIN, 0}, {upstream, POLLIN, 0}};
    if (::poll(sides, 2, static_cast<int>(left.count())) <= 0) return;
    if (sides[1].revents != 0) {
      const ssize_t n = ::recv(upstream, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      client.Send(std::string_view(chunk, static_cast<size_t>(n)));
    }
  }
}

void Tunnel(TestConnection& client, std::string_view authority) {
  const std::optional<Target> target = ParseAuthority(authority);
  const int upstream = target ? Connect(*target) : -1;
  if (upstream < 0) return RefuseTarget(client);
  client.Send("HTTP/1.0 200 Connection established\r\n\r\n");
  Relay(client, upstream);
  ::close(upstream);
}

void Forward(TestConnection& client, bool keep_alive) {
  const std::string request = client.ReadRequest();
  // "<METHOD> <target> HTTP/1.x"
  const size_t target_at = request.find(' ');
  const size_t target_end = request.find(' ', target_at + 1);
  if (target_at == std::string::npos || target_end == std::string::npos) return;
  const std::string_view method = std::string_view(request).substr(0, target_at);
  const std::string_view target =
      std::string_view(request).substr(target_at + 1, target_end - target_at - 1);
  if (method == "CONNECT") return Tunnel(client, target);

  constexpr std::string_view kScheme = "http://";
  if (target.substr(0, kScheme.size()) != kScheme) return RefuseTarget(client);
  const std::string_view rest = target.substr(kScheme.size());
  const std::optional<Target> origin = ParseAuthority(rest.substr(0, rest.find('/')));
  if (!origin) return RefuseTarget(client);
  ForwardRequest(client, request, *origin);
  if (keep_alive) client.WaitForClose(kKeepAliveLimit);
}

}  // namespace

void ForwardAsProxy(TestConnection& connection) {
  Forward(connection, false);
}

void ForwardAsKeepAliveProxy(TestConnection& connection) {
  Forward(connection, true);
}

}  // namespace pellora::testing
