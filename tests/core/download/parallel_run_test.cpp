// Runs with several connections give what a run with one gives; retries, the end
// after missing files in a row and the pause between requests.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>

#include "core/download/retry_policy.h"
#include "core/download/thread_operation.h"
#include "core/net/http_client.h"
#include "download/recording_host.h"
#include "net/test_http_server.h"
#include "temp_dir.h"

namespace pellora {
namespace {

using namespace std::chrono_literals;
using testing::Reply;
using testing::TestConnection;
using testing::TestHttpServer;
using testing::TRecordingHost;
using Clock = std::chrono::steady_clock;

testing::TestServerOptions Concurrent() {
  testing::TestServerOptions options;
  options.Concurrent = true;
  return options;
}

// What a run left behind: its steps as reported, its files and its messages.
struct TRunRecord {
  std::vector<std::string> Steps;            // "from to outcome path"
  std::map<std::string, std::string> Files;  // relative path -> content, hidden ones too
  std::vector<std::pair<std::string, std::string>> Messages;
  TRunEnd End = TRunEnd::Finished;
  bool StoppedEarly = false;

  bool operator==(const TRunRecord&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TRunRecord& record) {
  for (const auto& step : record.Steps) out << step << "\n";
  for (const auto& [path, content] : record.Files) out << path << ": " << content << "\n";
  for (const auto& [caption, text] : record.Messages) out << "[" << caption << "] " << text << "\n";
  return out;
}

// A server that answers "/d/f<n>.txt" after a delay of its own, from a script of
// replies per path where there is one, else with 404 for missing paths, else 200.
class ParallelRunTest : public ::testing::Test {
 protected:
  ParallelRunTest()
      : Server([this](TestConnection& connection) { Serve(connection); }, Concurrent()) {}

  void Serve(TestConnection& connection) {
    const std::string request = connection.ReadRequest();
    const size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    std::string reply =
        Reply("200 OK", {"Content-Length: " + std::to_string(path.size() + 8)}, "body of " + path);
    std::chrono::milliseconds delay{0};
    {
      std::lock_guard lock(Mutex);
      if (const auto found = Delays.find(path); found != Delays.end()) delay = found->second;
      if (auto script = Scripts.find(path); script != Scripts.end() && !script->second.empty()) {
        reply = script->second.front();
        if (script->second.size() > 1) script->second.pop_front();
      } else if (Missing.count(path)) {
        reply = Reply("404 Not Found", {}, "no " + path);
      }
    }
    connection.Pause(delay);
    connection.Send(reply);
  }

  // Numbers `first`..`last`; the To side as the From side unless changed.
  void Job(int first, int last) {
    Fields = {
        Server.Origin() + "/d", "f*.txt", std::to_string(first), std::to_string(last), "無制限", 0,
        Dir.File("to"),         "t*.txt", std::to_string(first), std::to_string(last), "無制限", 0};
  }

  TRunRecord RunWith(int connections,
                     const std::function<void(TRecordingHost&, TThread_Operation&)>& prepare = {}) {
    std::filesystem::remove_all(Dir.File("to"));
    std::filesystem::create_directory(Dir.File("to"));
    TRecordingHost host;
    host.Fields = Fields;
    THttpClient client;
    client.TimeOut = 5000;
    TSettings settings = Settings;
    settings.Connections = connections;
    TThread_Operation run(host, client, settings);
    if (prepare) prepare(host, run);
    run.Execute();
    LastHost = host;
    TRunRecord record;
    for (const TStepResult& step : host.Steps) {
      record.Steps.push_back(std::to_string(step.FromNumber) + " " + std::to_string(step.ToNumber) +
                             " " + std::to_string(static_cast<int>(step.Outcome)) + " " +
                             step.LocalPath);
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Dir.File("to"))) {
      if (!entry.is_regular_file()) continue;
      record.Files[std::filesystem::relative(entry.path(), Dir.File("to"))] =
          Dir.Read(std::filesystem::relative(entry.path(), Dir.Path).string());
    }
    record.Messages = host.Messages;
    record.End = run.EndReason;
    record.StoppedEarly = run.StoppedEarly;
    return record;
  }

  size_t RequestCount() const { return Server.Requests().size(); }

  std::mutex Mutex;
  std::map<std::string, std::chrono::milliseconds> Delays;
  std::map<std::string, std::deque<std::string>> Scripts;  // the last reply repeats
  std::set<std::string> Missing;
  TestHttpServer Server;
  TTempDir Dir;
  TRunFields Fields;
  TSettings Settings;
  TRecordingHost LastHost;
};

TEST_F(ParallelRunTest, OutOfOrderCompletionGivesTheFilesAndNamesOfOneConnection) {
  Job(1, 24);
  std::mt19937 random(7);
  for (int n = 1; n <= 24; ++n) {
    Delays["/d/f" + std::to_string(n) + ".txt"] = std::chrono::milliseconds(random() % 40);
  }
  Missing = {"/d/f3.txt", "/d/f4.txt", "/d/f11.txt", "/d/f24.txt"};
  for (const bool pack : {false, true}) {
    SCOPED_TRACE(pack ? "closing up over missing files" : "missing files keep their numbers");
    Settings.NumPack = pack;
    Fields.ToMax = "5";  // numbered folders, so a closed-up name lands in another one
    Fields.ToDepth = 1;
    const TRunRecord one = RunWith(1);
    const TRunRecord many = RunWith(6);
    EXPECT_EQ(many, one);
    EXPECT_EQ(one.Steps.size(), 24u);
    EXPECT_EQ(one.Files.size(), 20u) << one;  // nothing hidden is left
    EXPECT_EQ(one.Files.count(pack ? "4/t21.txt" : "4/t24.txt"), 0u) << one;
  }
}

TEST_F(ParallelRunTest, AStopStoresNothingAfterItsNumber) {
  Job(1, 30);
  Delays["/d/f3.txt"] = 1000ms;  // later numbers are fetched meanwhile
  const auto stopAtThree = [](TRecordingHost& host, TThread_Operation& run) {
    host.OnStep = [&run](const TStepResult& step) {
      if (step.FromNumber == 3) run.Terminate();
    };
  };
  const TRunRecord one = RunWith(1, stopAtThree);
  const size_t requestsOfOne = RequestCount();
  const TRunRecord many = RunWith(8, stopAtThree);
  EXPECT_EQ(many, one);
  EXPECT_EQ(one.Files.size(), 3u) << one;
  EXPECT_TRUE(one.StoppedEarly);
  EXPECT_GT(RequestCount() - requestsOfOne, 3u) << "later numbers were on their way";
}

TEST_F(ParallelRunTest, StopAtTheQuestionDiscardsWhatWasFetchedAhead) {
  Job(1, 10);
  Missing = {"/d/f2.txt"};
  Delays["/d/f2.txt"] = 1000ms;
  Settings.ShowCaution = true;
  const auto answerStop = [](TRecordingHost& host, TThread_Operation&) {
    host.Answers = {TErrorChoice::Stop};
  };
  const TRunRecord one = RunWith(1, answerStop);
  EXPECT_EQ(LastHost.Asked, std::vector<std::string>{Server.Origin() + "/d/f2.txt"});
  const size_t requestsOfOne = RequestCount();
  const TRunRecord many = RunWith(5, answerStop);
  EXPECT_EQ(LastHost.Asked, std::vector<std::string>{Server.Origin() + "/d/f2.txt"});
  EXPECT_EQ(many, one);
  EXPECT_EQ(one.Files, (std::map<std::string, std::string>{{"t1.txt", "body of /d/f1.txt"}}));
  EXPECT_GT(RequestCount() - requestsOfOne, 2u) << "later numbers were on their way";
}

TEST_F(ParallelRunTest, FailuresWorthAnotherTryAreTriedAgain) {
  Job(1, 3);
  Settings.Retries = 2;
  Scripts["/d/f1.txt"] = {Reply("503 Busy", {"Retry-After: 0"}, "busy"),
                          Reply("429 Too Many Requests", {"Retry-After: 1"}, "slow down"),
                          Reply("200 OK", {}, "third time lucky")};
  Scripts["/d/f2.txt"] = {Reply("500 Oops", {"Retry-After: 0"}, "broken")};  // every try
  Scripts["/d/f3.txt"] = {Reply("404 Not Found", {}, "gone")};               // no retry for that
  const TRunRecord record = RunWith(2);
  EXPECT_EQ(record.End, TRunEnd::Finished);
  EXPECT_EQ(record.Files, (std::map<std::string, std::string>{{"t1.txt", "third time lucky"}}));
  EXPECT_EQ(RequestCount(), 3u + 3u + 1u);
  ASSERT_EQ(LastHost.Steps.size(), 3u);
  EXPECT_EQ(LastHost.Steps[1].ReplyCode, 500);
  EXPECT_EQ(LastHost.Steps[1].Outcome, TStepOutcome::Missing);
  std::vector<std::string> notices;
  for (const TRetryNotice& notice : LastHost.Retries) {
    notices.push_back(std::to_string(notice.FromNumber) + " " + std::to_string(notice.Attempt) +
                      "/" + std::to_string(notice.Attempts) + " " + std::to_string(notice.DelayMs) +
                      " " + notice.Reason);
  }
  std::sort(notices.begin(), notices.end());
  EXPECT_EQ(notices, (std::vector<std::string>{
                         "1 2/3 0 HTTP/1.0 503 Busy", "1 3/3 1000 HTTP/1.0 429 Too Many Requests",
                         "2 2/3 0 HTTP/1.0 500 Oops", "2 3/3 0 HTTP/1.0 500 Oops"}));
}

TEST_F(ParallelRunTest, AConnectionThatFailsEveryTryEndsTheRun) {
  Job(1, 2);
  Settings.Retries = 1;
  Scripts["/d/f1.txt"] = {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\ncut"};
  const TRunRecord record = RunWith(1);
  EXPECT_EQ(record.End, TRunEnd::ConnectionError);
  EXPECT_EQ(RequestCount(), 2u);
  ASSERT_EQ(LastHost.Retries.size(), 1u);
  EXPECT_EQ(LastHost.Retries[0].DelayMs, 1000);
  EXPECT_EQ(LastHost.Retries[0].Reason, "Connection closed after 3 of 10 bytes of the body");
  EXPECT_TRUE(record.Files.empty()) << record;
}

TEST_F(ParallelRunTest, MissingFilesInARowEndTheRunNormally) {
  Job(1, 2147483647);  // "to the end"
  for (int n = 6; n <= 40; ++n) Missing.insert("/d/f" + std::to_string(n) + ".txt");
  Settings.StopAfterMissing = 3;
  for (const int connections : {1, 4}) {
    SCOPED_TRACE(connections);
    const TRunRecord record = RunWith(connections);
    EXPECT_EQ(record.End, TRunEnd::Finished);
    EXPECT_FALSE(record.StoppedEarly);
    EXPECT_EQ(record.Steps.size(), 8u);
    EXPECT_EQ(record.Files.size(), 5u) << record;
    ASSERT_EQ(record.Messages.size(), 1u);
    EXPECT_EQ(record.Messages[0].first, "完了");
    EXPECT_EQ(record.Messages[0].second,
              "ダウンロードが終わりました。\n\nダウンロードファイル数 : 5\n\n3 "
              "個続けてファイルが存在しなかったため、From : 8 で終了しました。");
  }
}

// Three request starts a pause apart cannot all happen in less than two pauses,
// however many connections are free.
TEST_F(ParallelRunTest, RequestsStartNoCloserThanThePause) {
  Job(1, 3);
  Settings.RequestInterval = 600;
  const auto start = Clock::now();
  const TRunRecord record = RunWith(4);
  EXPECT_GE(Clock::now() - start, 1200ms);
  EXPECT_EQ(record.Files.size(), 3u);
}

TEST(RetryPolicy, PausesDoubleOrFollowTheServer) {
  const auto now = std::chrono::system_clock::from_time_t(1796983200);  // 2026-12-11 10:00:00 UTC
  const struct {
    int next_attempt;
    std::string header;
    std::chrono::milliseconds pause;
  } cases[] = {
      {2, "", 1s},
      {3, "", 2s},
      {4, "HTTP/1.0 503 Busy\r\n\r\n", 4s},
      {8, "", 60s},  // 64 s capped
      {2, "HTTP/1.0 503 Busy\r\nRetry-After: 120\r\n\r\n", 120s},
      {2, "HTTP/1.0 429 Slow\r\nretry-after:  7 \r\n\r\n", 7s},
      {2, "HTTP/1.0 503 Busy\r\nRetry-After: Fri, 11 Dec 2026 10:00:30 GMT\r\n\r\n", 30s},
      {2, "HTTP/1.0 503 Busy\r\nRetry-After: Friday, 11-Dec-26 10:01:00 GMT\r\n\r\n", 60s},
      {2, "HTTP/1.0 503 Busy\r\nRetry-After: Fri Dec 11 10:00:05 2026\r\n\r\n", 5s},
      {2, "HTTP/1.0 503 Busy\r\nRetry-After: Thu, 10 Dec 2026 10:00:00 GMT\r\n\r\n", 0s},
      {2, "HTTP/1.0 503 Busy\r\nRetry-After: 3600\r\n\r\n", 300s},  // at most 5 minutes
      {2, "HTTP/1.0 503 Busy\r\nRetry-After: 99999999999999999999\r\n\r\n", 300s},
      {3, "HTTP/1.0 503 Busy\r\nRetry-After: soon\r\n\r\n", 2s},  // not a wait: doubling
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RetryDelay(c.next_attempt, c.header, now), c.pause)
        << c.next_attempt << " " << c.header;
  }
  for (const int code : {500, 502, 503, 599, 429}) EXPECT_TRUE(IsRetriableReply(code)) << code;
  for (const int code : {200, 301, 404, 403, 499, 600})
    EXPECT_FALSE(IsRetriableReply(code)) << code;
}

}  // namespace
}  // namespace pellora
