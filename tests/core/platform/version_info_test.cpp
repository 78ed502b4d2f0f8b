#include "core/platform/version_info.h"

#include <gtest/gtest.h>

namespace pellora {
namespace {

TEST(VersionValue, AnswersTheJapaneseStringTable) {
  const struct {
    const char* path;
    std::string expected;
  } cases[] = {
      {"\\StringFileInfo\\041103A4\\ProductVersion", "1.2.2"},
      {"\\StringFileInfo\\041103A4\\FileVersion", "1.2.2.0"},
      {"\\StringFileInfo\\041103A4\\ProductName", "Pellora"},
      {"\\StringFileInfo\\041103A4\\FileDescription", "連番ファイルの連続ダウンローダ"},
      {"\\StringFileInfo\\041103A4\\CompanyName", "Varnel"},
      {"\\StringFileInfo\\040904B0\\ProductVersion", ""},  // another language
      {"\\StringFileInfo\\041103A4\\Comments", ""},        // not in the table
      {"\\StringFileInfo\\041103A4\\", ""},
      {"\\StringFileInfo\\041103A4\\ProductVersionX", ""},
      {"StringFileInfo\\041103A4\\ProductVersion", ""},
      {"\\", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(VersionValue(c.path), c.expected) << c.path;
  EXPECT_FALSE(VersionValue("\\StringFileInfo\\041103A4\\LegalCopyright").empty());
  EXPECT_EQ(ProductVersion(), "1.2.2");
}

}  // namespace
}  // namespace pellora
