#include "core/about/command_line.h"

#include <gtest/gtest.h>

namespace pellora {
namespace {

TEST(EditCommandLine, RemovesThePlaceholderAndTheCharacterBeforeIt) {
  const struct {
    std::string line;
    std::string expected;
  } cases[] = {
      {R"("C:\Program Files\Browser\browser.exe" -nohome "%1")",
       R"("C:\Program Files\Browser\browser.exe" -nohome)"},
      {R"("C:\Mail\mail.exe" /m "%1" /q)", R"("C:\Mail\mail.exe" /m /q)"},
      {"browser %1", "browser"},
      {"browser %1 -x", "browser -x"},
      {R"(browser,"%1")", "browser"},      // whatever the character before is
      {R"(both "%1" %1)", "both %1"},      // the quoted form first
      {R"(viewer %1 "%1")", "viewer %1"},  // ... wherever it stands
      {"browser -url", "browser -url"},    // no placeholder: unchanged
      {"browser %2", "browser %2"},
      {R"("%1")", ""},  // nothing before it to remove
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(EditCommandLine(c.line), c.expected) << c.line;
}

}  // namespace
}  // namespace pellora
