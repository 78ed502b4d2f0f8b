#include "core/platform/text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace pellora {

namespace {

// One iconv conversion descriptor for the lifetime of a call.
class TIconv {
 public:
  TIconv(const char* to, const char* from) : Handle(iconv_open(to, from)) {
    if (Handle == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("text conversion from ") + from + " to " + to +
                               " is not available");
    }
  }
  ~TIconv() { iconv_close(Handle); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  // Converts all of `in`; on a byte sequence it cannot convert, calls `onBad`
  // with the output so far and skips `skip` input bytes; returns false when
  // `onBad` is empty.
  template <typename OnBad>
  bool Convert(std::string_view in, std::string& out, OnBad onBad) {
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[4096];
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t rc = iconv(Handle, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (!onBad(out)) return false;
      ++src;  // EILSEQ or EINVAL (cut sequence): skip the offending byte
      --srcLeft;
      iconv(Handle, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
  }

 private:
  iconv_t Handle;
};

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    size_t length = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      code = (code << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  TIconv codec("CP932", "UTF-8");
  std::string out;
  if (!codec.Convert(utf8, out, [](std::string&) { return false; })) return std::nullopt;
  return out;
}

std::string TextFromBytes(std::string_view bytes) {
  // A prefix cut from a longer text may end inside a character.
  for (size_t cut = 0; cut < 4 && cut <= bytes.size(); ++cut) {
    const std::string_view head = bytes.substr(0, bytes.size() - cut);
    if (IsValidUtf8(head)) return std::string(head);
  }
  return Cp932ToUtf8(bytes);
}

std::string Cp932ToUtf8(std::string_view cp932) {
  TIconv codec("UTF-8", "CP932");
  std::string out;
  codec.Convert(cp932, out, [](std::string& so_far) {
    so_far += "\xEF\xBF\xBD";
    return true;
  });
  return out;
}

}  // namespace pellora
