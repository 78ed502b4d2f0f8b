#include "core/sequence/mapping.h"

#include <gtest/gtest.h>

#include <climits>

#include "core/sequence/int_conversion.h"

namespace pellora {
namespace {

TEST(IntConversion, AcceptsOnlySignAndDigitsInRange) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"0", 0},
      {"42", 42},
      {"+7", 7},
      {"-5", -5},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"00000000000000000012", 12},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"12345678901", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"+", std::nullopt},
      {" 5", std::nullopt},
      {"5 ", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
      {"$10", std::nullopt},
      {"--1", std::nullopt},
      {"１２", std::nullopt},  // full-width digits are not digits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TryStrToInt(c.text), c.value) << "text: '" << c.text << "'";
  }
  EXPECT_THROW(StrToInt("abc"), EConvertError);
}

TEST(IntConversion, WrapsAtThe32BitLimits) {
  EXPECT_EQ(WrapAdd(INT32_MAX, 1), INT32_MIN);
  EXPECT_EQ(WrapSub(INT32_MIN, 1), INT32_MAX);
  EXPECT_EQ(WrapAdd(WrapSub(201, 1), 100), 300);
}

TEST(MakeFileName, PlaceholdersEscapesAndNegativeNumbers) {
  struct Case {
    const char* pattern;
    int32_t number;
    const char* expected;
  } cases[] = {
      {"*.html", 1, "1.html"},
      {"*.html", 100, "100.html"},
      {"img???.jpg", 7, "img007.jpg"},
      {"img???.jpg", 1234, "img234.jpg"},
      {"?\?-?\?", 123, "01-23"},  // "?\?" keeps the compiler from reading a trigraph
      {"a?b?", 5, "a0b5"},
      {"*-*", 12, "12-12"},
      {"?*?", 123, "21233"},
      {"a\\*b*.txt", 5, "a*b5.txt"},
      {"page.cgi\\?id=*", 5, "page.cgi?id=5"},
      {"a\\\\b*", 3, "a\\b3"},
      {"file*\\", 3, "file3"},
      {"fixed.txt", 99, "fixed.txt"},
      {"", 5, ""},
      {"*", -5, "-5"},
      {"???", -5, "0-5"},
      {"??", -123, "23"},
      {"*", INT32_MIN, "-2147483648"},
      {"??????????", INT32_MAX, "2147483647"},
      // UTF-8 text: a "\" beside a Japanese character is a real escape, and the
      // character's bytes are copied unchanged.
      {"表\\*?", 4, "表*4"},
      {"画像???", 12, "画像012"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeFileName(c.pattern, c.number), c.expected)
        << "pattern: '" << c.pattern << "' number: " << c.number;
  }
}

TEST(MakeFolderPath, QuotientsLargestDivisorFirst) {
  struct Case {
    int32_t number, max;
    int depth;
    const char* sep;
    const char* expected;
  } cases[] = {
      {7, 100, 2, "\\", "0\\0\\"},
      {250, 100, 2, "\\", "0\\2\\"},
      {12345, 100, 2, "\\", "1\\123\\"},
      {12345, 100, 4, "\\", "0\\0\\1\\123\\"},
      {12345, 100, 2, "/", "1/123/"},
      {-150, 100, 1, "/", "-1/"},
      {-150, 100, 2, "/", "0/-1/"},
      {12345, 0, 3, "/", ""},
      {12345, -5, 3, "/", ""},
      {12345, 100, 0, "/", ""},
      {INT32_MIN, 2, 1, "/", "-1073741824/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeFolderPath(c.number, c.max, c.depth, c.sep), c.expected)
        << c.number << " / " << c.max << " depth " << c.depth;
  }
}

TEST(MinimumDepth, LevelsNeededForTheEndNumber) {
  struct Case {
    int32_t end, max;
    int expected;
  } cases[] = {
      {9, 10, 0},      {10, 10, 1}, {99, 10, 1},   {100, 10, 2},       {1000, 1000, 1},
      {12345, 100, 2}, {0, 10, 0},  {-500, 10, 0}, {INT32_MAX, 2, 30}, {500, 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MinimumDepth(c.end, c.max), c.expected) << c.end << " with maximum " << c.max;
  }
}

TEST(NormalizeBase, SeparatorRulesPerSide) {
  TSideSpec remote;
  remote.BaseDir = "http://h/dir";
  EXPECT_EQ(NormalizeBase(remote, true), "http://h/dir/");
  EXPECT_EQ(NormalizeBase(remote, false), "http://h/dir");
  remote.BaseDir = "http://h/dir/";
  EXPECT_EQ(NormalizeBase(remote, true), "http://h/dir/");
  remote.BaseDir = "";
  EXPECT_EQ(NormalizeBase(remote, true), "");

  TSideSpec local;
  local.IsRemote = false;
  local.Separator = "\\";
  local.BaseDir = "C:\\dl";
  EXPECT_EQ(NormalizeBase(local, false), "C:\\dl\\");  // independent of AutoSlash
  local.BaseDir = "C:\\dl\\";
  EXPECT_EQ(NormalizeBase(local, true), "C:\\dl\\");
  local.Separator = "/";
  local.BaseDir = "/home/u/dl";
  EXPECT_EQ(NormalizeBase(local, false), "/home/u/dl/");
  local.BaseDir = "";
  EXPECT_EQ(NormalizeBase(local, false), "");
}

TEST(MakeFullName, WorkedExampleOnBothSeparators) {
  TSideSpec to;
  to.IsRemote = false;
  to.Separator = "\\";
  to.BaseDir = "C:\\dl";
  to.FilePattern = "img???.jpg";
  to.MaxPerFolder = 100;
  to.Depth = MinimumDepth(12345, 100);
  ASSERT_EQ(to.Depth, 2);
  EXPECT_EQ(MakeFullName(to, 7, true), "C:\\dl\\0\\0\\img007.jpg");
  EXPECT_EQ(MakeFullName(to, 250, true), "C:\\dl\\0\\2\\img250.jpg");
  EXPECT_EQ(MakeFullName(to, 12345, true), "C:\\dl\\1\\123\\img345.jpg");
  to.Depth = 4;
  EXPECT_EQ(MakeFullName(to, 12345, true), "C:\\dl\\0\\0\\1\\123\\img345.jpg");
  to.MaxPerFolder = 0;
  to.Depth = 0;
  EXPECT_EQ(MakeFullName(to, 12345, true), "C:\\dl\\img345.jpg");

  TSideSpec from;
  from.BaseDir = "http://h/dl";
  from.FilePattern = "img???.jpg";
  from.MaxPerFolder = 100;
  from.Depth = 2;
  EXPECT_EQ(MakeFullName(from, 12345, true), "http://h/dl/1/123/img345.jpg");
  EXPECT_EQ(MakeFullName(from, 7, false), "http://h/dl0/0/img007.jpg");
}

TEST(ReplaceFirst, ReplacesOneOccurrenceAtATime) {
  std::string url = "http://h/a b c.jpg";
  EXPECT_TRUE(ReplaceFirst(url, " ", "%20"));
  EXPECT_EQ(url, "http://h/a%20b c.jpg");
  while (ReplaceFirst(url, " ", "%20")) {
  }
  EXPECT_EQ(url, "http://h/a%20b%20c.jpg");
  EXPECT_FALSE(ReplaceFirst(url, " ", "%20"));
  EXPECT_FALSE(ReplaceFirst(url, "", "x"));
  EXPECT_EQ(url, "http://h/a%20b%20c.jpg");
}

}  // namespace
}  // namespace pellora
