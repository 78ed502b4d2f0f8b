#include "core/about/command_line.h"

namespace pellora {

namespace {

// Erases `placeholder` and the character before it (none when it starts the line).
bool ErasePlaceholder(std::string& line, std::string_view placeholder) {
  const size_t at = line.find(placeholder);
  if (at == std::string::npos) return false;
  const size_t from = at == 0 ? 0 : at - 1;
  line.erase(from, at + placeholder.size() - from);
  return true;
}

}  // namespace

std::string EditCommandLine(std::string_view commandLine) {
  std::string line(commandLine);
  if (!ErasePlaceholder(line, "\"%1\"")) ErasePlaceholder(line, "%1");
  return line;
}

}  // namespace pellora
