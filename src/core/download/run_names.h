#pragma once

#include <cstdint>
#include <string>

#include "core/download/run_host.h"

namespace pellora {

// The remote URL and the local path of one step of a run.
struct TStepNames {
  std::string Url;  // as shown; spaces are encoded only for the request
  std::string LocalPath;
  std::string ToFolder;  // the local sub-folder path (relative, ends in a separator)
};

// How a run names its files: the job's patterns, bases, maxima and depths as the
// run takes them at its start.
struct TRunNames {
  std::string FromPattern, ToPattern;
  std::string FromBase, ToBase;  // with their separators appended
  int32_t FromMax = 0, ToMax = 0;
  // A maximum that is not an integer ("無制限") gives its side no folders.
  bool FromMaxValid = false, ToMaxValid = false;
  int32_t FromDepth = 0, ToDepth = 0;

  static TRunNames FromFields(const TRunFields& fields, bool autoSlash);
  TStepNames Names(int32_t fromNumber, int32_t toNumber) const;
};

// The URL as it is requested: every space becomes "%20", nothing else changes.
std::string RequestUrl(std::string url);

}  // namespace pellora
