#include "core/settings/ini_store.h"

#include <gtest/gtest.h>

#include <string>

namespace pellora {
namespace {

// Values as a person may type them into the store file: each is one text, kept
// as typed, whatever a list-minded reader would make of it.
TEST(IniStoreReaderTest, HandEditedValuesReadAsTyped) {
  const struct {
    std::string Line;
    std::string Text;
  } cases[] = {
      {"FromFile=a,b*.x", "a,b*.x"},
      {"FromFile = a , b ", "a , b"},
      {"FromFile=\"a,b\", c", "a,b, c"},
      {"FromFile=\" padded \"", " padded "},
      {"FromFile=x ; a comment", "x"},
      {"FromFile=\"x;y\"", "x;y"},
      {"FromFile=tab\\tand\\\\", "tab\tand\\"},
      {"FromFile=\\x5199\\x771f", "写真"},
      {"FromFile=@@at", "@at"},
      {"FromFile=", ""},
  };
  for (const auto& c : cases) {
    const TIniStoreReader reader("[General]\n" + c.Line + "\n");
    EXPECT_EQ(reader.ReadText("FromFile").value_or("(absent)"), c.Text) << c.Line;
  }
}

TEST(IniStoreReaderTest, OnlyTheGeneralSectionCounts) {
  const TIniStoreReader reader(
      "; comment\n[Other]\nFromDir=no\n[General]\nMail%2DAddress=me@test\nbroken line\n"
      "TimeOut=@Invalid()\n");
  EXPECT_FALSE(reader.ReadText("FromDir").has_value());
  EXPECT_EQ(reader.ReadText("Mail-Address").value_or(""), "me@test");
  EXPECT_FALSE(reader.ReadText("TimeOut").has_value());
}

}  // namespace
}  // namespace pellora
