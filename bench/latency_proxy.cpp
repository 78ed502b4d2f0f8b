// Makes loopback behave like a link with a round-trip time, for bench/run.
//
// Listens on 127.0.0.1:--listen and relays every accepted connection to
// 127.0.0.1:--to. Each chunk read from one side is written to the other half a
// round trip after it arrived; a new connection carries nothing until one round
// trip after it was accepted, which is what its TCP handshake would have cost over
// such a link. A shutdown travels like data, after everything sent before it;
// a reset or a failed write resets the other side too, so a cut reply never looks
// complete. Bandwidth is not limited; only a queue of more than kQueueLimit bytes
// (a generous window for such a link) stops reading until the other side takes
// some. One thread, one poll loop, a timestamped queue per direction.
//
// Usage: latency_proxy --listen PORT --to PORT [--rtt-ms 40]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kQueueLimit = 8 * 1024 * 1024;

struct Options {
  int ListenPort = 0;
  int ToPort = 0;
  std::chrono::microseconds Rtt{40'000};
};

// Bytes read from one side, to be written to the other at `Due`; a chunk with
// `Eof` stands for the sender's shutdown and carries no bytes.
struct Chunk {
  Clock::time_point Due;
  std::vector<char> Bytes;
  std::size_t Sent = 0;
  bool Eof = false;
};

// One direction of a relayed connection.
struct Direction {
  std::deque<Chunk> Queue;
  std::size_t QueuedBytes = 0;
  bool ReadDone = false;  // the source's shutdown is queued
  bool ShutDone = false;  // and was passed on
  bool Blocked = false;   // the destination took no more at the last write
};

// Fd[0] is the accepted client, Fd[1] the connection to the server; Dir[i] reads
// Fd[i] and writes Fd[1 - i].
struct Link {
  int Fd[2] = {-1, -1};
  bool Connecting = true;
  Clock::time_point OpenAt;  // the end of the handshake's round trip
  Direction Dir[2];
  bool Dead = false;
};

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void CloseLink(Link& link, bool reset) {
  for (int fd : link.Fd) {
    if (fd < 0) continue;
    if (reset) {
      const linger hard{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close(fd);
  }
  link.Fd[0] = link.Fd[1] = -1;
  link.Dead = true;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void NoDelay(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

class Proxy {
 public:
  explicit Proxy(const Options& options) : options_(options) {}

  void Run() {
    Listen();
    std::fprintf(stderr, "latency_proxy: 127.0.0.1:%d -> 127.0.0.1:%d, round trip %.1f ms\n",
                 options_.ListenPort, options_.ToPort,
                 static_cast<double>(options_.Rtt.count()) / 1000);
    for (;;) {
      const Clock::time_point now = Clock::now();
      for (Link& link : links_) {
        for (int i = 0; i < 2 && !link.Dead; ++i) Flush(link, i, now);
      }
      links_.remove_if([](const Link& link) { return link.Dead; });
      Wait(now);
    }
  }

 private:
  void Listen() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) Fail("socket");
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = Loopback(options_.ListenPort);
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
      Fail("bind to 127.0.0.1:" + std::to_string(options_.ListenPort));
    }
    if (listen(listener_, SOMAXCONN) < 0) Fail("listen");
  }

  // Polls for what each link can do next, at most until the next chunk is due,
  // and does it.
  void Wait(Clock::time_point now) {
    std::vector<pollfd> polled;
    std::vector<std::pair<Link*, int>> owners;  // the link and side of each entry after 0
    const bool accepting = now >= acceptPausedUntil_;
    polled.push_back({accepting ? listener_ : -1, POLLIN, 0});
    std::optional<Clock::time_point> wake;
    if (!accepting) wake = acceptPausedUntil_;
    for (Link& link : links_) {
      for (int side = 0; side < 2; ++side) {
        const Direction& in = link.Dir[side];
        const Direction& out = link.Dir[1 - side];
        short events = 0;
        if (side == 1 && link.Connecting) {
          events = POLLOUT;
        } else {
          if (!in.ReadDone && in.QueuedBytes < kQueueLimit) events |= POLLIN;
          if (out.Blocked) events |= POLLOUT;
        }
        // An entry without events would still report a hang-up at once, over and over.
        if (events == 0) continue;
        polled.push_back({link.Fd[side], events, 0});
        owners.emplace_back(&link, side);
      }
      for (int i = 0; i < 2; ++i) {
        const Direction& dir = link.Dir[i];
        if (dir.Queue.empty() || dir.Blocked || (i == 0 && link.Connecting)) continue;
        if (!wake || dir.Queue.front().Due < *wake) wake = dir.Queue.front().Due;
      }
    }

    timespec timeout{};
    if (wake) {
      const auto left = std::max(std::chrono::nanoseconds(0), *wake - now);
      timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
    }
    if (ppoll(polled.data(), polled.size(), wake ? &timeout : nullptr, nullptr) < 0) {
      if (errno == EINTR) return;
      Fail("ppoll");
    }

    const Clock::time_point ready = Clock::now();
    for (std::size_t i = 1; i < polled.size(); ++i) {
      if (polled[i].revents == 0) continue;
      auto [link, side] = owners[i - 1];
      if (link->Dead) continue;
      if (side == 1 && link->Connecting) {
        Connected(*link);
        continue;
      }
      if ((polled[i].events & POLLIN) != 0 &&
          (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        Read(*link, side, ready);
      }
      // Whatever woke a blocked writer, the next write says whether it may go on.
      if ((polled[i].events & POLLOUT) != 0) link->Dir[1 - side].Blocked = false;
    }
    if ((polled[0].revents & POLLIN) != 0) Accept(ready);
  }

  void Accept(Clock::time_point now) {
    for (;;) {
      const int client = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (client < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          std::perror("latency_proxy: accept");
          acceptPausedUntil_ = now + std::chrono::milliseconds(100);
          return;
        }
        Fail("accept");
      }
      Link& link = links_.emplace_back();
      link.Fd[0] = client;
      link.OpenAt = now + options_.Rtt;
      NoDelay(client);
      link.Fd[1] = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (link.Fd[1] < 0) {
        std::perror("latency_proxy: socket");
        CloseLink(link, true);
        continue;
      }
      NoDelay(link.Fd[1]);
      const sockaddr_in server = Loopback(options_.ToPort);
      if (connect(link.Fd[1], reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0) {
        link.Connecting = false;
      } else if (errno != EINPROGRESS) {
        std::perror("latency_proxy: connect");
        CloseLink(link, true);
      }
    }
  }

  static void Connected(Link& link) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(link.Fd[1], SOL_SOCKET, SO_ERROR, &error, &size) < 0) error = errno;
    if (error != 0) {
      std::fprintf(stderr, "latency_proxy: connect: %s\n", std::strerror(error));
      CloseLink(link, true);
      return;
    }
    link.Connecting = false;
  }

  // Reads what side `side` has sent, in chunks due half a round trip from now, or
  // from the end of the handshake when that is later.
  void Read(Link& link, int side, Clock::time_point now) {
    Direction& dir = link.Dir[side];
    const Clock::time_point due = std::max(now, link.OpenAt) + options_.Rtt / 2;
    static char buffer[kChunk];
    while (!dir.ReadDone && dir.QueuedBytes < kQueueLimit) {
      const ssize_t got = recv(link.Fd[side], buffer, sizeof buffer, 0);
      if (got > 0) {
        dir.Queue.push_back({due, std::vector<char>(buffer, buffer + got)});
        dir.QueuedBytes += static_cast<std::size_t>(got);
      } else if (got == 0) {
        dir.Queue.push_back({due, {}, 0, true});
        dir.ReadDone = true;
      } else if (errno == EINTR) {
        continue;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return;
      } else {
        CloseLink(link, true);
        return;
      }
    }
  }

  // Writes the chunks of direction `i` that are due by `now`.
  static void Flush(Link& link, int i, Clock::time_point now) {
    Direction& dir = link.Dir[i];
    const int to = link.Fd[1 - i];
    if (dir.Blocked || (i == 0 && link.Connecting)) return;
    while (!dir.Queue.empty() && dir.Queue.front().Due <= now) {
      Chunk& chunk = dir.Queue.front();
      if (chunk.Eof) {
        shutdown(to, SHUT_WR);
        dir.ShutDone = true;
        dir.Queue.pop_front();
        continue;
      }
      const ssize_t sent =
          send(to, chunk.Bytes.data() + chunk.Sent, chunk.Bytes.size() - chunk.Sent, MSG_NOSIGNAL);
      if (sent > 0) {
        chunk.Sent += static_cast<std::size_t>(sent);
        if (chunk.Sent == chunk.Bytes.size()) {
          dir.QueuedBytes -= chunk.Bytes.size();
          dir.Queue.pop_front();
        }
      } else if (sent < 0 && errno == EINTR) {
        continue;
      } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        dir.Blocked = true;
        return;
      } else {
        CloseLink(link, true);
        return;
      }
    }
    if (link.Dir[0].ShutDone && link.Dir[1].ShutDone) CloseLink(link, false);
  }

  Options options_;
  int listener_ = -1;
  Clock::time_point acceptPausedUntil_{};
  std::list<Link> links_;  // stable addresses while a poll round refers to them
};

std::optional<int> Number(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

constexpr const char* kUsage =
    "usage: latency_proxy --listen PORT --to PORT [--rtt-ms MS]\n"
    "Relays 127.0.0.1:--listen to 127.0.0.1:--to, delaying every chunk by half of\n"
    "--rtt-ms (default 40) and a new connection's first bytes by one more round trip.\n";

std::optional<Options> Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) return std::nullopt;
    const std::string_view value = argv[++i];
    std::optional<int> number;
    if (arg == "--listen" && (number = Number(value, 1, 65535))) {
      options.ListenPort = *number;
    } else if (arg == "--to" && (number = Number(value, 1, 65535))) {
      options.ToPort = *number;
    } else if (arg == "--rtt-ms" && (number = Number(value, 0, 600'000))) {
      options.Rtt = std::chrono::milliseconds(*number);
    } else {
      return std::nullopt;
    }
  }
  if (options.ListenPort == 0 || options.ToPort == 0) return std::nullopt;
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = Parse(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 64;
  }
  signal(SIGPIPE, SIG_IGN);
  // Two descriptors per connection: take all the process may have.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  try {
    Proxy(*options).Run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "latency_proxy: %s\n", error.what());
    return 1;
  }
}
