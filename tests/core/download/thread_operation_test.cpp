#include "core/download/thread_operation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "core/net/http_client.h"
#include "core/platform/file_system.h"
#include "download/recording_host.h"
#include "net/test_http_server.h"
#include "net/test_pki.h"
#include "temp_dir.h"

namespace pellora {
namespace {

using testing::Reply;
using testing::TRecordingHost;
using testing::TestConnection;
using testing::TestHttpServer;

// Serves "/<path>" with "body of <path>", except for the paths given a status;
// "stall" paths get no answer at all.
class ThreadOperationTest : public ::testing::Test {
 protected:
  ThreadOperationTest()
      : Server([this](TestConnection& connection) {
          const std::string request = connection.ReadRequest();
          const size_t start = request.find(' ') + 1;
          const std::string path = request.substr(start, request.find(' ', start) - start);
          if (Observe.count(path)) SeenDuring = Entries(ToDir);
          if (const auto raw = RawReplies.find(path); raw != RawReplies.end()) {
            connection.Send(raw->second);
            return;
          }
          if (Stall.count(path)) {
            connection.Pause(std::chrono::milliseconds(1500));
            return;
          }
          const auto status = Statuses.find(path);
          if (status != Statuses.end()) {
            connection.Send(
                Reply(status->second, {"Content-Type: text/html"}, "error page " + path));
          } else {
            const auto body = Bodies.find(path);
            connection.Send(Reply("200 OK", {"Content-Type: application/octet-stream"},
                                  body != Bodies.end() ? body->second : "body of " + path));
          }
        }) {
    TempFolder = Dir.File("tmp");
    std::filesystem::create_directory(TempFolder);
    OldTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", TempFolder.c_str(), 1);
    ToDir = Dir.File("to");
    std::filesystem::create_directory(ToDir);
    Host.Fields = {Server.Origin() + "/d",
                   "f*.txt",
                   "1",
                   "5",
                   "無制限",
                   0,
                   ToDir,
                   "t*.txt",
                   "1",
                   "5",
                   "無制限",
                   0};
    Client.TimeOut = 5000;
    Client.InputFileMode = true;
  }
  ~ThreadOperationTest() override {
    if (OldTmp.empty()) {
      ::unsetenv("TMPDIR");
    } else {
      ::setenv("TMPDIR", OldTmp.c_str(), 1);
    }
  }

  TThread_Operation& Run() {
    Engine = std::make_unique<TThread_Operation>(Host, Client, Settings);
    Engine->Execute();
    return *Engine;
  }
  std::string Local(const std::string& name) const { return Dir.Read("to/" + name); }
  bool LocalExists(const std::string& name) const {
    return std::filesystem::exists(Dir.File("to/" + name));
  }
  bool TempFolderEmpty() const { return std::filesystem::is_empty(TempFolder); }
  // The names in a folder, sorted.
  static std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // Files of unfinished transfers anywhere below the To folder.
  std::vector<std::string> HiddenFiles() const {
    std::vector<std::string> hidden;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(ToDir)) {
      if (entry.path().filename().string().starts_with(".")) hidden.push_back(entry.path());
    }
    return hidden;
  }

  std::map<std::string, std::string> Statuses;
  std::map<std::string, std::string> Bodies;
  std::map<std::string, std::string> RawReplies;  // sent as they are
  std::set<std::string> Stall;
  std::set<std::string> Observe;  // paths at whose request the To folder is listed
  std::set<std::string> SeenDuring;
  TestHttpServer Server;
  TTempDir Dir;
  std::string TempFolder, OldTmp, ToDir;
  TRecordingHost Host;
  THttpClient Client;
  TSettings Settings;
  std::unique_ptr<TThread_Operation> Engine;
};

TEST_F(ThreadOperationTest, MissingFilesWithAndWithoutPacking) {
  Statuses["/d/f2.txt"] = Statuses["/d/f4.txt"] = "404 Not Found";
  for (bool pack : {true, false}) {
    SCOPED_TRACE(pack ? "packed" : "not packed");
    std::filesystem::remove_all(ToDir);
    std::filesystem::create_directory(ToDir);
    Settings.NumPack = pack;
    Host.Messages.clear();
    const TThread_Operation& run = Run();
    EXPECT_EQ(run.DownloadCount, 3);
    EXPECT_EQ(run.MissingCount, 2);
    EXPECT_FALSE(run.StoppedEarly);
    EXPECT_EQ(run.EndReason, TRunEnd::Finished);
    EXPECT_EQ(Local("t1.txt"), "body of /d/f1.txt");
    EXPECT_EQ(Local(pack ? "t2.txt" : "t3.txt"), "body of /d/f3.txt");
    EXPECT_EQ(Local(pack ? "t3.txt" : "t5.txt"), "body of /d/f5.txt");
    EXPECT_EQ(LocalExists("t4.txt"), false);
    ASSERT_EQ(Host.Messages.size(), 1u);
    EXPECT_EQ(Host.Messages[0].first, "完了");
    EXPECT_EQ(Host.Messages[0].second,
              "ダウンロードが終わりました。\n\nダウンロードファイル数 : 3");
    EXPECT_TRUE(Host.Closed);
    EXPECT_TRUE(TempFolderEmpty());
  }
}

TEST_F(ThreadOperationTest, FoldersOnBothSidesAndEncodedSpaces) {
  Host.Fields.FromDir = Server.Origin() + "/a b%41";
  Host.Fields.FromMax = "10";
  Host.Fields.FromDepth = 2;
  Host.Fields.FromStart = Host.Fields.FromEnd = "123";
  Host.Fields.ToMax = "100";
  Host.Fields.ToDepth = 1;
  Host.Fields.ToStart = "99";
  Host.Fields.FromStart = "121";
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.DownloadCount, 3);
  EXPECT_EQ(Host.ShownUrls[0], Server.Origin() + "/a b%41/1/12/f121.txt");  // shown as typed
  const std::vector<std::string> requests = Server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(requests[0].starts_with("GET /a%20b%41/1/12/f121.txt HTTP/1.0\r\n")) << requests[0];
  EXPECT_EQ(Local("0/t99.txt"), "body of /a%20b%41/1/12/f121.txt");
  EXPECT_EQ(Local("1/t100.txt"), "body of /a%20b%41/1/12/f122.txt");
  EXPECT_EQ(Local("1/t101.txt"), "body of /a%20b%41/1/12/f123.txt");
}

TEST_F(ThreadOperationTest, ExistingFilesAreSkippedWithoutARequest) {
  Settings.NotLoadIfExist = true;
  Settings.NumPack = true;
  Dir.Write("to/t2.txt", "kept");
  Host.Fields.FromEnd = "3";
  const TThread_Operation& run = Run();
  EXPECT_EQ(Server.Requests().size(), 2u);
  EXPECT_EQ(Local("t2.txt"), "kept");
  EXPECT_EQ(Local("t3.txt"), "body of /d/f3.txt");  // the To number advanced anyway
  EXPECT_EQ(run.DownloadCount, 2);
  EXPECT_EQ(run.SkippedCount, 1);
  EXPECT_EQ(Host.Steps[1].Outcome, TStepOutcome::Skipped);
}

TEST_F(ThreadOperationTest, ErrorPageIsStoredThenReplacedWhenPacking) {
  Settings.NumPack = true;
  Settings.SaveErrorMessage = true;
  Statuses["/d/f1.txt"] = "404 Not Found";
  Host.Fields.FromEnd = "1";
  Run();
  EXPECT_EQ(Local("t1.txt"), "error page /d/f1.txt");
  Host.Fields.FromEnd = "2";
  Run();
  EXPECT_EQ(Local("t1.txt"), "body of /d/f2.txt");
}

TEST_F(ThreadOperationTest, QuestionAfterAMissingFile) {
  Settings.ShowCaution = true;
  Statuses["/d/f2.txt"] = Statuses["/d/f3.txt"] = "500 Oops";
  Host.Answers = {TErrorChoice::IgnoreFromNowOn};
  const TThread_Operation& ignored = Run();
  EXPECT_EQ(Host.Asked.size(), 1u);
  EXPECT_FALSE(Settings.ShowCaution);
  EXPECT_EQ(ignored.DownloadCount, 3);

  Settings.ShowCaution = true;
  Host.Asked.clear();
  Host.Messages.clear();
  Host.Answers = {TErrorChoice::Stop};
  const TThread_Operation& stopped = Run();
  EXPECT_EQ(Host.Asked, std::vector<std::string>{Server.Origin() + "/d/f2.txt"});
  EXPECT_TRUE(stopped.StoppedEarly);
  EXPECT_EQ(stopped.EndReason, TRunEnd::StoppedByUser);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].first, "強制終了");
  EXPECT_EQ(Host.Messages[0].second,
            "ダウンロードを強制終了しました。\n\nダウンロードファイル数 : 1\n\nFrom : 2 , To : "
            "2で中断しました。");
}

TEST_F(ThreadOperationTest, ConnectionErrorStopsTheRunAtThatNumber) {
  Stall.insert("/d/f3.txt");
  Client.TimeOut = 300;
  Settings.UseProxyServer = false;
  const TThread_Operation& run = Run();
  EXPECT_TRUE(run.StoppedEarly);
  EXPECT_EQ(run.EndReason, TRunEnd::ConnectionError);
  ASSERT_EQ(Host.Messages.size(), 2u);
  EXPECT_EQ(Host.Messages[0].first, "接続エラー");
  EXPECT_EQ(Host.Messages[0].second,
            "From : "
            "3\nFromで指定されたサーバまでの接続が確立できません。\nアドレスに間違いがないか確認し"
            "てください。\n\n詳細 : Socket readln aborted（300 ミリ秒のあいだ応答がありません）");
  EXPECT_EQ(Host.Icons[0], TRunIcon::Error);
  EXPECT_TRUE(Host.Messages[1].second.ends_with("From : 3 , To : 2で中断しました。"));
  EXPECT_TRUE(TempFolderEmpty());
  EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

// A body cut short of its length is a failed transfer: the old local file stays.
TEST_F(ThreadOperationTest, ACutBodyIsAConnectionErrorAndTheOldFileStays) {
  Dir.Write("to/t2.txt", "old content");
  RawReplies["/d/f2.txt"] = "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort";
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.EndReason, TRunEnd::ConnectionError);
  EXPECT_EQ(run.DownloadCount, 1);
  ASSERT_EQ(Host.Messages.size(), 2u);
  EXPECT_EQ(Host.Messages[0].first, "接続エラー");
  EXPECT_TRUE(Host.Messages[0].second.ends_with(
      "詳細 : Connection closed after 5 of 100 bytes of the body"))
      << Host.Messages[0].second;
  EXPECT_EQ(Local("t2.txt"), "old content");
  EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

// A certificate that fails stops the run like a connection error, in its own words.
TEST_F(ThreadOperationTest, ACertificateThatFailsStopsTheRunAndSaysWhy) {
  static const testing::TestPki pki;
  testing::TestServerOptions tls;
  tls.Tls = &pki.Server(testing::TestPki::Kind::Expired);
  TestHttpServer secure([](TestConnection& connection) { connection.ReadRequest(); }, tls);
  Host.Fields.FromDir = secure.Origin() + "/d";
  Client.TlsCaFile = pki.CaFile();
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.EndReason, TRunEnd::ConnectionError);
  EXPECT_EQ(run.DownloadCount, 0);
  ASSERT_EQ(Host.Messages.size(), 2u);
  EXPECT_EQ(Host.Messages[0].first, "証明書エラー");
  EXPECT_EQ(Host.Icons[0], TRunIcon::Error);
  const std::string& text = Host.Messages[0].second;
  EXPECT_TRUE(text.starts_with("From : 1\nサーバ 127.0.0.1 の証明書を確認できないため")) << text;
  EXPECT_NE(text.find("理由 : 証明書の有効期限が切れています。\n(certificate has expired)"),
            std::string::npos)
      << text;
  EXPECT_TRUE(std::filesystem::is_empty(ToDir));
  EXPECT_TRUE(secure.Requests().empty());
}

// An abort (a second Ctrl-C, SIGTERM) ends the transfer in flight: a stop, not an
// error, and nothing of the unfinished file is left.
TEST_F(ThreadOperationTest, AnAbortedTransferIsAStop) {
  Stall.insert("/d/f2.txt");
  Host.OnIdle = [this] {
    if (Server.Requests().size() >= 2) Engine->Abort();
  };
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.EndReason, TRunEnd::StoppedByUser);
  EXPECT_EQ(run.DownloadCount, 1);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].first, "強制終了");
  EXPECT_TRUE(Host.Messages[0].second.ends_with("From : 2 , To : 1で中断しました。"));
  EXPECT_FALSE(LocalExists("t2.txt"));
  EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

TEST_F(ThreadOperationTest, AFileThatCannotBeStoredIsNotCountedAndStopsTheRun) {
  std::filesystem::create_directory(Dir.File("to/t2.txt"));  // a folder in the way
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.DownloadCount, 1);
  EXPECT_TRUE(run.StoppedEarly);
  EXPECT_EQ(run.EndReason, TRunEnd::FileError);
  ASSERT_GE(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].first, "保存エラー");
  EXPECT_NE(Host.Messages[0].second.find(ToDir + "/t2.txt"), std::string::npos);
  EXPECT_EQ(Local("t1.txt"), "body of /d/f1.txt");
  EXPECT_TRUE(TempFolderEmpty());
  EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

// A file the user made read-only is not replaced: it is a file that cannot be
// stored, and it is not even fetched.
TEST_F(ThreadOperationTest, AReadOnlyLocalFileIsLeftAlone) {
  Dir.Write("to/t2.txt", "mine");
  ASSERT_EQ(::chmod(Dir.File("to/t2.txt").c_str(), 0444), 0);
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.EndReason, TRunEnd::FileError);
  EXPECT_EQ(Server.Requests().size(), 1u);
  ASSERT_GE(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].first, "保存エラー");
  EXPECT_EQ(Host.Messages[0].second,
            "ファイルを保存できませんでした。\n" + ToDir + "/t2.txt\nアクセスが拒否されました。");
  EXPECT_EQ(Local("t2.txt"), "mine");
  struct stat info {};
  ASSERT_EQ(::stat(Dir.File("to/t2.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0444u);
  EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

// The body is written beside its target under a hidden name and renamed into
// place; storing a file clears what a killed run left of it.
TEST_F(ThreadOperationTest, TheBodyIsWrittenBesideItsTarget) {
  Host.Fields.FromEnd = "2";
  Statuses["/d/f2.txt"] = "404 Not Found";
  Observe.insert("/d/f1.txt");
  for (const char* name : {".t1.txt.pelAbC123", ".t2.txt.pelAbC123", ".t1.txt.pel-kept"}) {
    Dir.Write(std::string("to/") + name, "left by a killed run");
  }
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.DownloadCount, 1);
  ASSERT_EQ(SeenDuring.size(), 4u);
  const std::string inFlight = *std::find_if(SeenDuring.begin(), SeenDuring.end(), [](auto& n) {
    return n.starts_with(".t1.txt.pel") && n != ".t1.txt.pelAbC123" && n != ".t1.txt.pel-kept";
  });
  EXPECT_EQ(inFlight.size(), std::string(".t1.txt.pel").size() + 6) << inFlight;
  EXPECT_EQ(Entries(ToDir),
            (std::set<std::string>{"t1.txt", ".t2.txt.pelAbC123", ".t1.txt.pel-kept"}));
  EXPECT_TRUE(TempFolderEmpty());
  struct stat info {};
  ASSERT_EQ(::stat(Dir.File("to/t1.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, NewFileMode()) << "a stored file gets the usual permissions";
}

TEST_F(ThreadOperationTest, AnAddressTheClientCannotUseEndsTheRun) {
  Host.Fields.FromDir = "http://127.0.0.1:99999/d";
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.EndReason, TRunEnd::UnknownError);
  ASSERT_GE(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0],
            (std::pair<std::string, std::string>{
                "エラー", "原因不明のエラーです。\n\n詳細 : '99999' is not a valid port number"}));
}

TEST_F(ThreadOperationTest, RangeEndingAtTheLargestNumberEnds) {
  Host.Fields.FromStart = Host.Fields.ToStart = "2147483646";
  Host.Fields.FromEnd = Host.Fields.ToEnd = "2147483647";
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.DownloadCount, 2);
  EXPECT_EQ(Host.GaugeMin, 2147483646);
  EXPECT_EQ(Host.GaugeMax, 2147483648LL);
  EXPECT_EQ(Host.GaugePos, 2147483648LL);
  EXPECT_EQ(Local("t2147483647.txt"), "body of /d/f2147483647.txt");
}

TEST_F(ThreadOperationTest, EmptyRangeMakesNoRequest) {
  Host.Fields.FromStart = "10";
  Host.Fields.FromEnd = "5";
  const TThread_Operation& run = Run();
  EXPECT_EQ(run.DownloadCount, 0);
  EXPECT_TRUE(Server.Requests().empty());
  EXPECT_EQ(Host.Messages.at(0).first, "完了");
}

TEST_F(ThreadOperationTest, OnlyTheStartOfALargeBodyIsShown) {
  Bodies["/d/f1.txt"] = std::string(3 * 1024 * 1024, 'x');
  Host.Fields.FromEnd = "1";
  Run();
  EXPECT_EQ(Host.LastBody.size(), kBodyPreviewBytes);
  EXPECT_NE(Host.LastHeader.find("Content-Type: application/octet-stream"), std::string::npos);
  EXPECT_EQ(Local("t1.txt"), Bodies["/d/f1.txt"]);
}

}  // namespace
}  // namespace pellora
