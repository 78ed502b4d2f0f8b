#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellora {

// Conversions between the program's own text (UTF-8) and code page 932, the
// encoding of files exchanged with installations on the original platform.

bool IsValidUtf8(std::string_view bytes);

// nullopt when some character has no code page 932 form.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// Bytes that are not valid code page 932 become U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

// Bytes of unknown encoding shown as text: UTF-8 when they are (an incomplete
// character at the end is dropped), else code page 932.
std::string TextFromBytes(std::string_view bytes);

}  // namespace pellora
