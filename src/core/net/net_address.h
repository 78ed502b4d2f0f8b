#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>

namespace pellora {

// One IPv4 or IPv6 socket address (address and port).
struct TNetAddress {
  sockaddr_storage Storage{};
  socklen_t Size = 0;

  int Family() const { return Storage.ss_family; }
  const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&Storage); }
  void SetPort(uint16_t port);
  // The address alone as text: "192.0.2.1", "::1".
  std::string Text() const;
};

// A numeric IPv4 or IPv6 address ("127.0.0.1", "::1"); nothing for a host name.
std::optional<TNetAddress> NumericAddress(const std::string& text);

}  // namespace pellora
