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
  uint32_t address = 0;

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
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* result = nullptr;
      const int code = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
      if (code == 0 && result != nullptr) {
        state->address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
      } else {
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

uint32_t THostLookup::Address() const {
  return state_->address;
}

int THostLookup::Running() {
  return running_lookups.load();
}

}  // namespace pellora
