#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// A list of "name: value" lines, the form of a request header.
class TExStringList {
 public:
  std::vector<std::string> Lines;

  void Clear() { Lines.clear(); }
  void Add(std::string line) { Lines.push_back(std::move(line)); }
  size_t Count() const { return Lines.size(); }

  // Index of the first line whose text before its first ":" equals name, ignoring case;
  // -1 when there is none. Lines without ":" never match.
  int IndexOfName(std::string_view name) const;
  // The value of that line with one leading blank removed; empty when there is none.
  std::string GetValue(std::string_view name) const;
  // A non-empty value replaces the line in place or appends "name: value"; an empty
  // value deletes the line.
  void SetValue(std::string_view name, std::string_view value);
  // All lines, each followed by CR LF.
  std::string Text() const;
};

}  // namespace pellora
