#include "core/settings/ini_store.h"

#include "core/platform/file_system.h"
#include "core/settings/settings_file.h"

namespace pellora {

namespace {

constexpr size_t kMaxStoreSize = 1024 * 1024;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | ((code >> 12) & 0x0F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Key names escape special bytes as %XX.
std::string UnescapeKey(std::string_view key) {
  std::string out;
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] == '%' && i + 2 < key.size() && HexValue(key[i + 1]) >= 0 &&
        HexValue(key[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(key[i + 1]) * 16 + HexValue(key[i + 2]));
      i += 2;
    } else {
      out += key[i];
    }
  }
  return out;
}

// A value: quoted parts, backslash escapes and ";" starting a comment outside
// quotes. It is always one text: a "," outside quotes stays as it stands (Qt's
// settings reader would make a list of it), so a hand-edited value is read, and
// written back, exactly as it was typed. Blanks around the value do not count.
std::string UnescapeValue(std::string_view value) {
  std::string out;
  size_t significant = 0;  // the length without unquoted blanks at the end
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && i + 1 < value.size()) {
      const char e = value[++i];
      switch (e) {
        case 'a':
          out += '\a';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'v':
          out += '\v';
          break;
        case 'x': {
          uint32_t code = 0;
          while (i + 1 < value.size() && HexValue(value[i + 1]) >= 0 && code < 0x10000) {
            code = code * 16 + static_cast<uint32_t>(HexValue(value[++i]));
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          out += e;
      }
    } else if (!quoted && c == ';') {
      break;
    } else {
      out += c;
      if (quoted || (c != ' ' && c != '\t')) significant = out.size();
      continue;
    }
    significant = out.size();
  }
  out.resize(significant);
  if (out.starts_with("@@")) out.erase(0, 1);
  return out;
}

}  // namespace

TIniStoreReader::TIniStoreReader(std::string_view text) {
  std::string section;
  for (const std::string& raw : SplitLines(text)) {
    const std::string_view line = TrimBlanks(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = UnescapeKey(line.substr(1, line.size() - 2));
      continue;
    }
    if (section != "General") continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string value = UnescapeValue(TrimBlanks(line.substr(equals + 1)));
    if (value.starts_with("@Invalid(")) continue;
    Values[UnescapeKey(TrimBlanks(line.substr(0, equals)))] = value;
  }
}

TIniStoreReader TIniStoreReader::FromFile(const std::string& path) {
  try {
    return TIniStoreReader(ReadSmallFile(path, kMaxStoreSize));
  } catch (const EFileError&) {
    return TIniStoreReader(std::string_view());
  }
}

std::optional<std::string> TIniStoreReader::ReadText(const std::string& name) const {
  const auto it = Values.find(name);
  if (it == Values.end()) return std::nullopt;
  return it->second;
}

}  // namespace pellora
