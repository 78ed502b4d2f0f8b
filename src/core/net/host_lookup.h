#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/net/net_address.h"

namespace pellora {

// One asynchronous lookup (IPv6 and IPv4) of a host name, run on a short-lived helper thread so
// the caller can keep polling and pumping while it waits. Dropping the object before
// the lookup ends abandons it: the helper finishes on its own and frees what it
// shares with the caller, so an abort never waits for a slow resolver.
class THostLookup {
 public:
  explicit THostLookup(const std::string& name);
  ~THostLookup();
  THostLookup(const THostLookup&) = delete;
  THostLookup& operator=(const THostLookup&) = delete;

  // Becomes readable (poll) once the lookup has finished.
  int WaitFd() const;
  bool Done() const;
  // Valid once Done(): 0 or a lookup error number (11001...), and every address in
  // the resolver's order of preference (ports not set).
  int32_t Error() const;
  const std::vector<TNetAddress>& Addresses() const;

  // Helper threads still running in the process; lets tests prove none is left over.
  static int Running();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace pellora
