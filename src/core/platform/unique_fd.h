#pragma once

#include <unistd.h>

namespace pellora {

// Owns a file descriptor and closes it when it goes out of scope.
class TFd {
 public:
  explicit TFd(int fd) : Fd(fd) {}
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return Fd; }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd = -1) {
    if (Fd >= 0) ::close(Fd);
    Fd = fd;
  }
  // Gives the descriptor up, so the caller can close it and see the result.
  int Release() {
    const int fd = Fd;
    Fd = -1;
    return fd;
  }

 private:
  int Fd;
};

}  // namespace pellora
