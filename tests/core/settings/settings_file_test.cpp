#include "core/settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "core/platform/file_system.h"
#include "core/sequence/mapping.h"
#include "temp_dir.h"

namespace pellora {
namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void StartUp() {
    Model.EnableToFields();
    Model.FromChange();
    Model.ToChange();
  }
  void Apply(const std::string& line) { ApplySettingsLine(line, Settings, Model); }

  TSettings Settings;
  TSequenceModel Model{Settings};
  TTempDir Dir;
};

TEST_F(SettingsFileTest, WritesEveryLineInOrder) {
  Settings.PasswordSaving = false;
  Settings.Password = "secret";
  Settings.TimeOut = -1;
  StartUp();
  const std::vector<std::string> lines = SplitLines(MakeSettingsFileText(Settings, Model));
  ASSERT_EQ(lines.size(), 37u);
  EXPECT_EQ(lines[0], "//Pellora1 Settings//");
  EXPECT_EQ(lines[1], "SetType = SN");
  EXPECT_EQ(lines[2], "St_SyncFileName = true");
  EXPECT_EQ(lines[8], "St_SaveErrMsg = false");
  EXPECT_EQ(lines[9], "St_TimeOut = -1");
  EXPECT_EQ(lines[16], "St_Password = ");
  EXPECT_EQ(lines[17], "St_HeaderAgent = Pellora");
  EXPECT_EQ(lines[19], "St_HeaderMailAddr = ");
  EXPECT_EQ(lines[20], "St_TrustedCaFile = ");
  EXPECT_EQ(lines[21], "St_Connections = 1");
  EXPECT_EQ(lines[24], "St_RequestInterval = 0");
  EXPECT_EQ(lines[29], "Fr_Max = 無制限");
  EXPECT_EQ(lines[30], "Fr_Depth = 0");
  EXPECT_EQ(lines[36], "To_Depth = 0");
  const std::string text = MakeSettingsFileText(Settings, Model);
  EXPECT_TRUE(text.ends_with("To_Depth = 0\r\n"));
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);  // every line ends in CR LF
}

TEST_F(SettingsFileTest, AppliesLinesByTheirKeys) {
  StartUp();
  struct Case {
    const char* line;
    std::function<bool(const TSettings&, const TSequenceModel&)> holds;
  } cases[] = {
      {"St_TimeOut=5000", [](auto& s, auto&) { return s.TimeOut == 5000; }},
      {"  St_ProxyPort\t=  -3 ", [](auto& s, auto&) { return s.ProxyPort == -3; }},
      {"Fr_FileName = a=b.html", [](auto&, auto& m) { return m.From().File == "a=b.html"; }},
      {"St_UseProxy = TRUE", [](auto& s, auto&) { return !s.UseProxyServer; }},
      {"St_UseProxy = true", [](auto& s, auto&) { return s.UseProxyServer; }},
      {"St_UseProxy = ", [](auto& s, auto&) { return s.UseProxyServer; }},
      {"st_useproxy = false", [](auto& s, auto&) { return s.UseProxyServer; }},
      {"St_UseProxy = false", [](auto& s, auto&) { return !s.UseProxyServer; }},
      {"St_HeaderAgent =", [](auto& s, auto&) { return s.Agent.empty(); }},
      {"SetType = XY", [](auto& s, auto&) { return s.TimeOut == 5000 && s.Agent.empty(); }},
      {"no equals sign", [](auto& s, auto&) { return s.Agent.empty(); }},
      {"Fr_Max = 100", [](auto&, auto& m) { return m.From().Max == "100"; }},
      {"Fr_Depth = 1000", [](auto&, auto& m) { return m.Depth(TSide::From) == 127; }},
      {"Fr_Depth = -4",
       [](auto&, auto& m) { return m.Depth(TSide::From) == 1; }},  // the minimum for 100
      {"Fr_EndPoint = 250", [](auto&, auto& m) { return m.To().End == "250"; }},  // linked
  };
  for (const Case& c : cases) {
    Apply(c.line);
    EXPECT_TRUE(c.holds(Settings, Model)) << "after line: '" << c.line << "'";
  }
}

TEST_F(SettingsFileTest, PackAndErrorMessageMayBothBeOn) {
  Apply("St_NumberPack = true");
  Apply("St_SaveErrMsg = true");
  EXPECT_TRUE(Settings.NumPack);
  EXPECT_TRUE(Settings.SaveErrorMessage);
}

TEST_F(SettingsFileTest, LoadStopsAtABadIntegerAndLastDuplicateWins) {
  StartUp();
  Dir.Write("job.pel",
            "St_TimeOut = 1\nSt_TimeOut = 2\r\nSt_ProxyPort = 81\rSt_HeaderAgent = A\r\n"
            "St_ProxyPort = \r\nSt_HeaderReferer = never\r\n");
  try {
    LoadSettingsFile(Dir.File("job.pel"), Settings, Model);
    FAIL() << "an empty integer must stop the load";
  } catch (const ESettingsValueError& e) {
    EXPECT_EQ(e.Line, 5u);
    EXPECT_EQ(e.Key, "St_ProxyPort");
    EXPECT_EQ(e.Value, "");
  }
  EXPECT_EQ(Settings.TimeOut, 2);
  EXPECT_EQ(Settings.ProxyPort, 81);
  EXPECT_EQ(Settings.Agent, "A");
  EXPECT_EQ(Settings.Referer, "");
}

TEST_F(SettingsFileTest, RoundTripRestoresEverything) {
  Settings = TSettings{false,
                       false,
                       true,
                       false,
                       true,
                       false,
                       true,
                       true,
                       true,
                       true,
                       600000,
                       3128,
                       "proxy.test",
                       "ユーザー",
                       "pass word",
                       "Agent/1.0",
                       "http://ref.test/",
                       "me@test",
                       "/etc/pellora/社内CA.pem",
                       16,
                       10,
                       3,
                       1500};
  StartUp();
  Model.SetText(TFieldId::FromDir, "http://h.test/写真");
  Model.SetText(TFieldId::FromFile, "img???.jpg");
  Model.SetText(TFieldId::FromEnd, "12345");
  Model.SetText(TFieldId::FromMax, "100");
  Model.SetDepth(TSide::From, 3);
  Model.SetText(TFieldId::ToDir, "  /tmp/保存  ");
  Model.SetText(TFieldId::ToFile, "p*.jpg");
  Model.SetText(TFieldId::ToStart, "11");
  Model.SetText(TFieldId::ToMax, "10");
  Model.SetDepth(TSide::To, 9);
  const TSettings saved = Settings;
  const TSideFields from = Model.From();
  const TSideFields to = Model.To();
  SaveSettingsFile(Dir.File("job.pel"), Settings, Model);

  TSettings other;
  TSequenceModel otherModel(other);
  LoadSettingsFile(Dir.File("job.pel"), other, otherModel);
  EXPECT_EQ(other, saved);
  for (auto [a, b] : {std::pair{&from, &otherModel.From()}, std::pair{&to, &otherModel.To()}}) {
    EXPECT_EQ(a->File, b->File);
    EXPECT_EQ(a->Start, b->Start);
    EXPECT_EQ(a->End, b->End);
    EXPECT_EQ(a->Max, b->Max);
    EXPECT_EQ(a->Depth, b->Depth);
  }
  EXPECT_EQ(otherModel.From().Dir, from.Dir);
  EXPECT_EQ(otherModel.To().Dir, "/tmp/保存");  // blanks at either end are trimmed

  Settings.PasswordSaving = false;
  SaveSettingsFile(Dir.File("job.pel"), Settings, Model);
  LoadSettingsFile(Dir.File("job.pel"), other, otherModel);
  EXPECT_EQ(other.Password, "");
}

TEST_F(SettingsFileTest, Cp932FilesLoadWithTheirJapaneseText) {
  StartUp();
  // "表" is 0x95 0x5C and "ソ" is 0x83 0x5C: their second byte is a backslash.
  Dir.Write("old.pel",
            "//Pellora1 Settings//\r\nFr_FileName = \x95\x5C*\x83\x5C?.jpg\r\n"
            "Fr_Max = \x96\xB3\x90\xA7\x8C\xC0\r\n");
  LoadSettingsFile(Dir.File("old.pel"), Settings, Model);
  EXPECT_EQ(Model.From().File, "表*ソ?.jpg");
  EXPECT_EQ(Model.From().Max, "無制限");
  EXPECT_EQ(MakeFileName(Model.From().File, 5), "表5ソ5.jpg");
}

TEST_F(SettingsFileTest, EncodesAsCp932UnlessACharacterHasNoForm) {
  StartUp();
  Model.SetText(TFieldId::FromFile, "表?.jpg");
  SaveSettingsFile(Dir.File("a.pel"), Settings, Model);
  EXPECT_NE(Dir.Read("a.pel").find("Fr_FileName = \x95\x5C?.jpg\r\n"), std::string::npos);

  Model.SetText(TFieldId::FromFile, "😀?.jpg");
  SaveSettingsFile(Dir.File("b.pel"), Settings, Model);
  const std::string utf8 = Dir.Read("b.pel");
  EXPECT_TRUE(utf8.starts_with("\xEF\xBB\xBF//Pellora1 Settings//\r\n"));
  TSettings other;
  TSequenceModel otherModel(other);
  LoadSettingsFile(Dir.File("b.pel"), other, otherModel);
  EXPECT_EQ(otherModel.From().File, "😀?.jpg");
}

TEST_F(SettingsFileTest, FileErrorsChangeNothing) {
  StartUp();
  const TSettings before = Settings;
  EXPECT_THROW(LoadSettingsFile(Dir.File("missing.pel"), Settings, Model), EFileError);
  EXPECT_THROW(LoadSettingsFile(Dir.Path.string(), Settings, Model), EFileError);
  Dir.Write("huge.pel", "St_TimeOut = 1\r\n" + std::string(kMaxSettingsFileSize, 'x'));
  try {
    LoadSettingsFile(Dir.File("huge.pel"), Settings, Model);
    FAIL() << "a huge file must be refused";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Error, EFBIG);
  }
  ASSERT_EQ(::mkfifo(Dir.File("fifo").c_str(), 0600), 0);
  EXPECT_THROW(LoadSettingsFile(Dir.File("fifo"), Settings, Model), EFileError);  // no hang
  EXPECT_EQ(Settings, before);

  EXPECT_THROW(SaveSettingsFile(Dir.File("no/such/folder/x.pel"), Settings, Model), EFileError);
}

TEST_F(SettingsFileTest, SavingReplacesTheOldFileOnlyWhenComplete) {
  StartUp();
  Dir.Write("job.pel", "old content");
  std::filesystem::create_directory(Dir.File("folder.pel"));
  EXPECT_THROW(SaveSettingsFile(Dir.File("folder.pel"), Settings, Model), EFileError);
  size_t entries = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(Dir.Path)) ++entries;
  EXPECT_EQ(entries, 2u);  // no temporary file left behind

  SaveSettingsFile(Dir.File("job.pel"), Settings, Model);
  EXPECT_TRUE(Dir.Read("job.pel").starts_with("//Pellora1 Settings//\r\n"));
  struct stat info {};
  ASSERT_EQ(::stat(Dir.File("job.pel").c_str(), &info), 0);
  Settings.Password = "secret";
  SaveSettingsFile(Dir.File("job.pel"), Settings, Model);
  ASSERT_EQ(::stat(Dir.File("job.pel").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // a saved password stays private

  ASSERT_EQ(::chmod(Dir.File("job.pel").c_str(), 0444), 0);
  const std::string before = Dir.Read("job.pel");
  EXPECT_THROW(SaveSettingsFile(Dir.File("job.pel"), TSettings{}, Model), EFileError);
  EXPECT_EQ(Dir.Read("job.pel"), before);  // a read-only file is left alone
}

TEST_F(SettingsFileTest, TypedNameGetsTheExtensionOnlyWhenNothingHasThatName) {
  Dir.Write("job", "");  // a job file without an extension
  Dir.Write("other.pel", "");
  const struct {
    std::string Typed;
    std::string Opened;
  } cases[] = {
      {Dir.File("job"), Dir.File("job")},
      {Dir.File("other"), Dir.File("other.pel")},
      {Dir.File("new"), Dir.File("new.pel")},
      {Dir.File("a.txt"), Dir.File("a.txt")},
      {Dir.File("dir.d/x"), Dir.File("dir.d/x.pel")},  // a dot in a folder is no extension
      {"rel", "rel.pel"},
  };
  for (const auto& c : cases) EXPECT_EQ(SettingsFileToOpen(c.Typed), c.Opened) << c.Typed;
}

}  // namespace
}  // namespace pellora
