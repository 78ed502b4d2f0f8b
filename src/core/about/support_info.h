#pragma once

#include <string>
#include <string_view>

namespace pellora {

// The maker's support page and e-mail address shown in the About box. Both may be
// replaced by the optional file "url.dat" when its check values match.
struct TSupportInfo {
  std::string SupportUrl;
  std::string SupportMail;
};

inline constexpr char kDefaultSupportUrl[] = "http://www.varnel.jp/soft/pellora/";
inline constexpr char kDefaultSupportMail[] = "pellora@varnel.jp";
inline constexpr char kSupportFileName[] = "url.dat";

// The one instance the program uses; empty until LoadSupportInfo fills it.
extern TSupportInfo SupportInfo;

// ((S + L) * 4179) mod 18592 over the line's bytes taken as signed 8-bit values, with
// 32-bit two's-complement arithmetic and a remainder that keeps the dividend's sign.
int SupportCheckValue(std::string_view line);

// The support information held by the raw bytes of a "url.dat" file, with the
// built-in defaults for whatever the file does not validly provide.
TSupportInfo ParseSupportInfo(std::string_view fileBytes);

// Reads the file at `path` (the defaults when it is missing, unreadable, not a
// regular file or unreasonably large).
TSupportInfo ReadSupportInfo(const std::string& path);

// Fills SupportInfo from "url.dat" in the current directory.
void LoadSupportInfo();

}  // namespace pellora
