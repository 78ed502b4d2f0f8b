#pragma once

#include <cstdint>
#include <string>

#include "core/net/tls_channel.h"

namespace pellora {

// A message of the run for the person: its text and its caption.
struct TRunMessage {
  std::string Text;
  std::string Caption;
};

// The connection of number `fromNumber` failed; `reason` is the socket layer's text,
// `timeOutMs` the time-out when it was the time-out that ended the wait, else 0.
TRunMessage ConnectionErrorMessage(int32_t fromNumber, const std::string& reason,
                                   uint32_t timeOutMs, bool viaProxy);

// The server's certificate was not accepted.
TRunMessage CertificateErrorMessage(int32_t fromNumber, const ECertificateError& error);

}  // namespace pellora
