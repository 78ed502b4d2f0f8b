#include "core/download/run_names.h"

#include "core/sequence/int_conversion.h"
#include "core/sequence/mapping.h"

namespace pellora {

TRunNames TRunNames::FromFields(const TRunFields& fields, bool autoSlash) {
  TRunNames names;
  const std::optional<int32_t> fromMax = TryStrToInt(fields.FromMax);
  const std::optional<int32_t> toMax = TryStrToInt(fields.ToMax);
  names.FromMaxValid = fromMax.has_value();
  names.FromMax = fromMax.value_or(0);
  names.ToMaxValid = toMax.has_value();
  names.ToMax = toMax.value_or(0);
  names.FromDepth = fields.FromDepth;
  names.ToDepth = fields.ToDepth;
  names.FromPattern = fields.FromFile;
  names.ToPattern = fields.ToFile;

  TSideSpec from;
  from.BaseDir = fields.FromDir;
  names.FromBase = NormalizeBase(from, autoSlash);
  TSideSpec to;
  to.IsRemote = false;
  to.Separator = std::string(kLocalSeparator);
  to.BaseDir = fields.ToDir;
  names.ToBase = NormalizeBase(to, autoSlash);
  return names;
}

TStepNames TRunNames::Names(int32_t fromNumber, int32_t toNumber) const {
  TStepNames step;
  std::string fromFolder;
  if (FromMaxValid) fromFolder = MakeFolderPath(fromNumber, FromMax, FromDepth, kRemoteSeparator);
  if (ToMaxValid) step.ToFolder = MakeFolderPath(toNumber, ToMax, ToDepth, kLocalSeparator);
  step.Url = FromBase + fromFolder + MakeFileName(FromPattern, fromNumber);
  step.LocalPath = ToBase + step.ToFolder + MakeFileName(ToPattern, toNumber);
  return step;
}

std::string RequestUrl(std::string url) {
  while (ReplaceFirst(url, " ", "%20")) {
  }
  return url;
}

}  // namespace pellora
