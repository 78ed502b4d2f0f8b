#include "core/platform/version_info.h"

#include <array>
#include <utility>

#include "version_data.h"

namespace pellora {

namespace {

constexpr std::string_view kStringTable = "\\StringFileInfo\\041103A4\\";

constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kStrings{{
    {"CompanyName", "Varnel"},
    {"FileDescription", "連番ファイルの連続ダウンローダ"},
    {"FileVersion", PELLORA_FILE_VERSION_TEXT},
    {"InternalName", "Pellora"},
    {"LegalCopyright", "Copyright (C) 1999-2026 Varnel"},
    {"OriginalFilename", "pellora"},
    {"ProductName", "Pellora"},
    {"ProductVersion", PELLORA_VERSION_TEXT},
}};

}  // namespace

std::string VersionValue(std::string_view valuePath) {
  if (!valuePath.starts_with(kStringTable)) return {};
  const std::string_view name = valuePath.substr(kStringTable.size());
  for (const auto& [key, value] : kStrings) {
    if (key == name) return std::string(value);
  }
  return {};
}

std::string ProductVersion() {
  return VersionValue("\\StringFileInfo\\041103A4\\ProductVersion");
}

}  // namespace pellora
