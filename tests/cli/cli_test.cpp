#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "net/test_http_server.h"

extern char** environ;

namespace pellora {
namespace {

using testing::Reply;
using testing::TempDir;
using testing::TestConnection;
using testing::TestHttpServer;

struct TResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs pellora-cli with `args` and its own environment; `whileRunning` is called
// with its process id once it has started. Gives up (and kills it) after 20 s.
TResult RunCli(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               const std::function<void(pid_t, const std::string& outSoFar)>& whileRunning = {}) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> argStrings{PELLORA_CLI_PATH};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (!env.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
  }
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, PELLORA_CLI_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  TResult result;
  if (spawned != 0) return result;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  bool told = false;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (whileRunning && !told) {
      told = true;
      whileRunning(pid, result.Out);
    }
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.Out : result.Err).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  if (open > 0) ::kill(pid, SIGKILL);
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

class CliTest : public ::testing::Test {
 protected:
  CliTest()
      : Server([this](TestConnection& connection) {
          const std::string request = connection.ReadRequest();
          const size_t start = request.find(' ') + 1;
          const std::string path = request.substr(start, request.find(' ', start) - start);
          if (SlowMs > 0) connection.Pause(std::chrono::milliseconds(SlowMs));
          if (Missing.count(path)) {
            connection.Send(Reply("404 Not Found", {}, "no " + path));
          } else {
            connection.Send(Reply("200 OK", {}, "body of " + path));
          }
        }) {
    std::filesystem::create_directories(Dir.Path("tmp"));
    Env = {{"XDG_CONFIG_HOME", Dir.Path("config")}, {"TMPDIR", Dir.Path("tmp")}};
  }

  // A job file in the program's format for numbers 1..`end` of "f*.txt".
  std::string Job(int end, const std::string& extra = "") {
    const std::string path = Dir.Path("job.pel");
    std::ofstream(path) << "//Pellora1 Settings//\r\nFr_BaseDir = " << Server.Origin()
                        << "/d\r\nFr_FileName = f*.txt\r\nFr_StartPoint = 1\r\nFr_EndPoint = "
                        << end << "\r\nTo_BaseDir = " << Dir.Path("out") << "\r\n"
                        << extra;
    return path;
  }
  std::string Local(const std::string& name) const {
    return testing::ReadFileBytes(Dir.Path("out") + "/" + name);
  }

  std::set<std::string> Missing;
  int SlowMs = 0;
  TestHttpServer Server;
  TempDir Dir;
  std::map<std::string, std::string> Env;
};

TEST_F(CliTest, RunsAJobFileWithOneLinePerFile) {
  const TResult result = RunCli({"--yes", Job(3)}, Env);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(Local("f1.txt"), "body of /d/f1.txt");
  EXPECT_EQ(Local("f3.txt"), "body of /d/f3.txt");
  EXPECT_NE(result.Out.find("stored  " + Server.Origin() + "/d/f2.txt -> " + Dir.Path("out") +
                            "/f2.txt (17 bytes)\n"),
            std::string::npos)
      << result.Out;
  EXPECT_NE(result.Out.find("[完了] ダウンロードが終わりました。\n\nダウンロードファイル数 : 3\n"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(Dir.Path("tmp")));

  const TResult quiet = RunCli({"--quiet", Job(3)}, Env);
  EXPECT_EQ(quiet.Status, 0);
  EXPECT_EQ(quiet.Out, "[完了] ダウンロードが終わりました。\n\nダウンロードファイル数 : 3\n");
}

TEST_F(CliTest, OverridesApplyInOrder) {
  const TResult result = RunCli({"--yes", "--set", "Fr_EndPoint=2", "--set=To_FileName=x*.bin",
                                 "--set", "St_SyncFileName = false", Job(9)},
                                Env);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(Server.Requests().size(), 2u);
  // With the file name link switched off by a later override, the To pattern
  // given before it stays.
  EXPECT_EQ(Local("x2.bin"), "body of /d/f2.txt");

  EXPECT_EQ(RunCli({"--set", "No_Such_Key=1", Job(1)}, Env).Status, 64);
  EXPECT_EQ(RunCli({"--set", "St_TimeOut=soon", Job(1)}, Env).Status, 64);
}

TEST_F(CliTest, ListsBothHierarchiesWithoutTouchingAnything) {
  const TResult result = RunCli({"--list", "--set", "Fr_Max=10", "--set", "To_Max=100", "--set",
                                 "Fr_FileName=a b?.jpg", Job(101, "Fr_StartPoint = 99\r\n")},
                                Env);
  ASSERT_EQ(result.Status, 0) << result.Err;
  const std::string origin = Server.Origin();
  EXPECT_EQ(result.Out, origin + "/d/0/9/a%20b9.jpg\t" + Dir.Path("out") + "/0/a b9.jpg\n" +
                            origin + "/d/1/10/a%20b0.jpg\t" + Dir.Path("out") + "/1/a b0.jpg\n" +
                            origin + "/d/1/10/a%20b1.jpg\t" + Dir.Path("out") + "/1/a b1.jpg\n");
  EXPECT_TRUE(Server.Requests().empty());
  EXPECT_FALSE(std::filesystem::exists(Dir.Path("out")));
}

TEST_F(CliTest, ExitStatusTellsHowTheRunEnded) {
  Missing = {"/d/f2.txt"};
  const TResult missing =
      RunCli({"--yes", Job(3, "St_ShowCaution = true\r\n")}, Env);  // no terminal: skipped
  EXPECT_EQ(missing.Status, 1) << missing.Err;
  EXPECT_NE(missing.Out.find("missing " + Server.Origin() + "/d/f2.txt (404)"), std::string::npos);
  EXPECT_EQ(Local("f3.txt"), "body of /d/f3.txt");

  const TResult refused =
      RunCli({"--yes", "--set",
              "Fr_BaseDir=http://127.0.0.1:" + std::to_string(testing::UnusedPort()), Job(3)},
             Env);
  EXPECT_EQ(refused.Status, 2);
  EXPECT_NE(refused.Err.find("[接続エラー] From : 1\n"), std::string::npos) << refused.Err;

  const TResult order = RunCli({"--set", "Fr_StartPoint=5", Job(3)}, Env);
  EXPECT_EQ(order.Status, 64);
  EXPECT_NE(order.Err.find("Fromの始点を、終点より小さい数値にしてください。"), std::string::npos);

  const TResult noFolder = RunCli({"--set", "To_BaseDir=" + Dir.Path("new/deep"), Job(1)}, Env);
  EXPECT_EQ(noFolder.Status, 64);
  EXPECT_FALSE(std::filesystem::exists(Dir.Path("new")));

  EXPECT_EQ(RunCli({"--bogus"}, Env).Status, 64);
  EXPECT_EQ(RunCli({Dir.Path("missing.pel")}, Env).Status, 64);
  EXPECT_EQ(RunCli({"--help"}, Env).Status, 0);
}

TEST_F(CliTest, InterruptStopsAfterTheCurrentFile) {
  SlowMs = 300;
  const TResult result = RunCli({"--yes", Job(20)}, Env, [](pid_t pid, const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(result.Status, 2) << result.Err;
  EXPECT_NE(result.Out.find("[強制終了] ダウンロードを強制終了しました。"), std::string::npos)
      << result.Out;
  const size_t stored = Server.Requests().size();
  EXPECT_GE(stored, 1u);
  EXPECT_LT(stored, 20u);
  EXPECT_EQ(Local("f1.txt"), "body of /d/f1.txt");
  EXPECT_TRUE(std::filesystem::is_empty(Dir.Path("tmp")));
}

TEST_F(CliTest, WithoutAJobFileTheStoredJobRuns) {
  std::filesystem::create_directories(Dir.Path("config/Varnel"));
  std::ofstream(Dir.Path("config/Varnel/Pellora.conf"))
      << "[General]\nFromDir=" << Server.Origin() << "/s\nFromFile=\"p ?.txt\"\nFromStart=1\n"
      << "FromEnd=2\nToDir=" << Dir.Path("out") << "\nNumSync=1\n";
  const TResult result = RunCli({"--preview"}, Env);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "From 始点: " + Server.Origin() + "/s/p 1.txt\nFrom 終点: " +
                            Server.Origin() + "/s/p 2.txt\nTo 始点: " + Dir.Path("out") +
                            "/p 1.txt\nTo 終点: " + Dir.Path("out") + "/p 2.txt\n");
}

}  // namespace
}  // namespace pellora
