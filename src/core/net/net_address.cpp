#include "core/net/net_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace pellora {

void TNetAddress::SetPort(uint16_t port) {
  if (Family() == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&Storage)->sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = htons(port);
  }
}

std::string TNetAddress::Text() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (Family() == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_addr, text,
                sizeof text);
  } else if (Family() == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&Storage)->sin_addr, text,
                sizeof text);
  }
  return text;
}

std::optional<TNetAddress> NumericAddress(const std::string& text) {
  if (text.find('\0') != std::string::npos) return std::nullopt;
  TNetAddress address;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.Storage);
  if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    address.Size = sizeof(sockaddr_in);
    return address;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.Storage);
  if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    address.Size = sizeof(sockaddr_in6);
    return address;
  }
  return std::nullopt;
}

}  // namespace pellora
