#pragma once

#include <stdexcept>

#include "core/platform/file_system.h"  // EFileError: a local file of a transfer failed

namespace pellora {

// Every failure of the socket layer. The message is the English text meant for the
// person who reads the report.
class ESockError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A blocking operation that was canceled or ran into its inactivity time-out.
class EAbortError : public ESockError {
 public:
  using ESockError::ESockError;
};

}  // namespace pellora
