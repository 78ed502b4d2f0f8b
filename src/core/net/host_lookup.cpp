#include "core/net/host_lookup.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "core/net/sock_error.h"
#include "core/net/winsock_message.h"

namespace pellora {

namespace {
std::atomic<int> running_lookups{0};
}

struct THostLookup::State {
  int pipe_fds[2] = {-1, -1};
  std::atomic<bool> done{false};
  int32_t error = 0;
  std::vector<TNetAddress> addresses;

  ~State() {
    for (int fd : pipe_fds) {
      if (fd >= 0) ::close(fd);
    }
  }
};

THostLookup::THostLookup(const std::string& name) : state_(std::make_shared<State>()) {
  if (::pipe2(state_->pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw ESockError("Host Lookup Failed");
  }
  running_lookups.fetch_add(1);
  try {
    std::thread([state = state_, name]() mutable {
      addrinfo hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* result = nullptr;
      const int code = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
      for (const addrinfo* a = code == 0 ? result : nullptr; a != nullptr; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
            a->ai_addrlen > sizeof(sockaddr_storage)) {
          continue;
        }
        TNetAddress address;
        std::memcpy(&address.Storage, a->ai_addr, a->ai_addrlen);
        address.Size = a->ai_addrlen;
        state->addresses.push_back(address);
      }
      if (state->addresses.empty()) {
        state->error = SocketErrorFromLookup(code == 0 ? EAI_NONAME : code, errno);
      }
      if (result != nullptr) ::freeaddrinfo(result);
      state->done.store(true, std::memory_order_release);
      const char wake = 1;
      [[maybe_unused]] const ssize_t ignored = ::write(state->pipe_fds[1], &wake, 1);
      state.reset();
      running_lookups.fetch_sub(1);
    }).detach();
  } catch (...) {
    running_lookups.fetch_sub(1);
    throw ESockError("Host Lookup Failed");
  }
}

THostLookup::~THostLookup() = default;

int THostLookup::WaitFd() const {
  return state_->pipe_fds[0];
}

bool THostLookup::Done() const {
  return state_->done.load(std::memory_order_acquire);
}

int32_t THostLookup::Error() const {
  return state_->error;
}

const std::vector<TNetAddress>& THostLookup::Addresses() const {
  return state_->addresses;
}

int THostLookup::Running() {
  return running_lookups.load();
}

}  // namespace pellora
