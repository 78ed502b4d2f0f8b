#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace pellora {

// The n-th field (counted from 1) of the text cut at every delimiter; adjacent
// delimiters make an empty field, and a missing field is empty.
std::string NthWord(std::string_view text, char delimiter, int n);

// The 1-based position of the n-th delimiter, or the length plus 1 when there are
// fewer than n of them.
size_t NthPos(std::string_view text, char delimiter, int n);

// Writes the text followed by CR LF.
void StreamLn(std::ostream& stream, std::string_view text);

}  // namespace pellora
