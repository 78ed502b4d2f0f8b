#include "core/about/support_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace pellora {
namespace {

namespace fs = std::filesystem;

// Lines and their check values, computed by hand from the rule.
const std::string kUrl = "http://www.example.jp/pellora/";
const std::string kUrlCheck = "11102";
const std::string kMail = "info@example.jp";
const std::string kMailCheck = "8029";
const std::string kSjisUrl = "http://\x97\xe1\x82\xa6.jp/";  // "http://例え.jp/" in Shift-JIS

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

TEST(SupportCheckValue, FollowsTheRule) {
  const struct {
    std::string line;
    int expected;
  } cases[] = {
      {"abc", 14091},
      {"\x83\x41", -686},  // S + L negative: a negative check value
      {"", 0},
      {kSjisUrl, 378},  // bytes of 128 and above count as negative
      {kUrl, 11102},
      {"http://www.example.jp/pellorb/", 15281},  // one byte changed
      {std::string(600000, 'z'), -8352},          // the product wraps as 32-bit arithmetic
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SupportCheckValue(c.line), c.expected)
        << "line of " << c.line.size() << " bytes: " << c.line.substr(0, 40);
  }
}

TEST(ParseSupportInfo, TakesWhatTheFileValidlyProvides) {
  const std::string def = kDefaultSupportUrl;
  const std::string defMail = kDefaultSupportMail;
  std::string zeroInChunk = Lines({kUrl, kUrlCheck}) + '\0';
  zeroInChunk += std::string(1024 - zeroInChunk.size(), 'x') + Lines({kMail, kMailCheck});
  const struct {
    const char* name;
    std::string bytes;
    std::string url;
    std::string mail;
  } cases[] = {
      {"all four lines valid", Lines({kUrl, kUrlCheck, kMail, kMailCheck}), kUrl, kMail},
      {"one byte of the URL changed",
       Lines({"http://www.example.jp/pellorb/", kUrlCheck, kMail, kMailCheck}), def, kMail},
      {"wrong mail check", Lines({kUrl, kUrlCheck, kMail, "8028"}), kUrl, defMail},
      {"Shift-JIS URL", Lines({kSjisUrl, "378", kMail, kMailCheck}), kSjisUrl, kMail},
      {"Shift-JIS bytes counted unsigned do not match",
       Lines({kSjisUrl, std::to_string(((559 + 4 * 256 + 15) * 4179) % 18592)}), def, defMail},
      {"negative check value", Lines({"\x83\x41", "-686"}), "\x83\x41", defMail},
      {"check with a leading zero", Lines({kUrl, "0" + kUrlCheck}), def, defMail},
      {"check with a plus sign", Lines({kUrl, "+" + kUrlCheck}), def, defMail},
      {"third line without CR LF", Lines({kUrl, kUrlCheck}) + kMail, kUrl, defMail},
      {"URL line alone is taken unchecked", Lines({"http://unchecked/"}), "http://unchecked/",
       defMail},
      {"mail without its check line is taken unchecked", Lines({kUrl, "1", kMail}), def, kMail},
      {"no CR LF at all", kUrl, def, defMail},
      {"LF line ends", kUrl + "\n" + kUrlCheck + "\n" + kMail + "\n" + kMailCheck + "\n", def,
       defMail},
      {"empty file", "", def, defMail},
      {"zero byte ends the text of its 1024-byte chunk", zeroInChunk, kUrl, kMail},
  };
  for (const auto& c : cases) {
    const TSupportInfo info = ParseSupportInfo(c.bytes);
    EXPECT_EQ(info.SupportUrl, c.url) << c.name;
    EXPECT_EQ(info.SupportMail, c.mail) << c.name;
  }
}

class SupportFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pellora-about-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
    OldCwd = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(OldCwd);
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }
  std::string Write(const std::string& bytes) {
    std::ofstream(Dir / kSupportFileName, std::ios::binary) << bytes;
    return (Dir / kSupportFileName).string();
  }

  fs::path Dir;
  fs::path OldCwd;
};

TEST_F(SupportFileTest, LoadReadsUrlDatOfTheCurrentDirectory) {
  Write(Lines({kUrl, kUrlCheck, kMail, kMailCheck}));
  SupportInfo = {};
  LoadSupportInfo();
  EXPECT_EQ(SupportInfo.SupportUrl, kDefaultSupportUrl) << "not in the current directory";

  fs::current_path(Dir);
  LoadSupportInfo();
  EXPECT_EQ(SupportInfo.SupportUrl, kUrl);
  EXPECT_EQ(SupportInfo.SupportMail, kMail);
}

TEST_F(SupportFileTest, UnusableFilesGiveTheDefaults) {
  const std::string path = (Dir / kSupportFileName).string();
  const auto expectDefaults = [&](const char* what) {
    const TSupportInfo info = ReadSupportInfo(path);
    EXPECT_EQ(info.SupportUrl, kDefaultSupportUrl) << what;
    EXPECT_EQ(info.SupportMail, kDefaultSupportMail) << what;
  };
  expectDefaults("missing");
  fs::create_directory(path);
  expectDefaults("a folder");
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  expectDefaults("a FIFO, which must not block");
  fs::remove(path);
  Write(Lines({kUrl, kUrlCheck, kMail, kMailCheck}) + std::string(2 << 20, 'x'));
  expectDefaults("far larger than any support file");
  Write(Lines({kUrl, kUrlCheck, kMail, kMailCheck}));
  EXPECT_EQ(ReadSupportInfo(path).SupportUrl, kUrl) << "the same lines in a small file";
}

}  // namespace
}  // namespace pellora
