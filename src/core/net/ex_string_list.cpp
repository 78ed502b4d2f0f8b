#include "core/net/ex_string_list.h"

#include <strings.h>

namespace pellora {

int TExStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < Lines.size(); ++i) {
    const std::string& line = Lines[i];
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon != name.size()) continue;
    if (::strncasecmp(line.data(), name.data(), colon) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::string TExStringList::GetValue(std::string_view name) const {
  const int index = IndexOfName(name);
  if (index < 0) return {};
  std::string value = Lines[static_cast<size_t>(index)].substr(name.size() + 1);
  if (!value.empty() && value[0] == ' ') value.erase(0, 1);
  return value;
}

void TExStringList::SetValue(std::string_view name, std::string_view value) {
  const int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) Lines.erase(Lines.begin() + index);
    return;
  }
  std::string line = std::string(name) + ": " + std::string(value);
  if (index >= 0) {
    Lines[static_cast<size_t>(index)] = std::move(line);
  } else {
    Lines.push_back(std::move(line));
  }
}

std::string TExStringList::Text() const {
  std::string text;
  for (const std::string& line : Lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace pellora
