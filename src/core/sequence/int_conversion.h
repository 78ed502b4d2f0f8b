#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pellora {

// Raised when a text is not an integer in the program's syntax.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The program's one integer syntax: an optional "+" or "-" followed by at least one
// decimal digit, nothing else (no blanks), within the signed 32-bit range.
std::optional<int32_t> TryStrToInt(std::string_view text);

// As TryStrToInt, but throws EConvertError naming the text.
int32_t StrToInt(std::string_view text);

std::string IntToStr(int32_t value);

// Signed 32-bit arithmetic that wraps around like the machine does, without the
// undefined behaviour of signed overflow in C++.
int32_t WrapAdd(int32_t a, int32_t b);
int32_t WrapSub(int32_t a, int32_t b);

}  // namespace pellora
