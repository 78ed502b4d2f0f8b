#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/test_http_server.h"
#include "net/test_pki.h"

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

// How pellora-cli is started besides its arguments and environment.
struct TSpawn {
  // Called once with its process id after it has started.
  std::function<void(pid_t)> WhileRunning;
  // A command that starts it, e.g. {"prlimit", "--fsize=..."}.
  std::vector<std::string> Prefix;
  // Its output is a pipe that nobody reads.
  bool OutputClosed = false;
};

// Runs pellora-cli with `args` and its own environment. Gives up (and kills it)
// after 20 s.
TResult RunCli(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               const TSpawn& spawn = {}) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> argStrings = spawn.Prefix;
  argStrings.push_back(PELLORA_CLI_PATH);
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
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  TResult result;
  if (spawned != 0) return result;
  if (spawn.OutputClosed) ::close(out[0]);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  pollfd fds[2] = {{spawn.OutputClosed ? -1 : out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = spawn.OutputClosed ? 1 : 2;
  if (spawn.WhileRunning) spawn.WhileRunning(pid);
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
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
          if (FailOnce.erase(path) > 0) {
            connection.Send(Reply("503 Busy", {"Retry-After: 0"}, "busy"));
          } else if (Missing.count(path)) {
            connection.Send(Reply("404 Not Found", {}, "no " + path));
          } else if (Unfinished.count(path)) {
            connection.Send(Reply("200 OK", {}, "the first part of " + path));
            UnfinishedSent = true;
            connection.WaitForClose();
          } else {
            const auto body = Bodies.find(path);
            connection.Send(
                Reply("200 OK", {}, body != Bodies.end() ? body->second : "body of " + path));
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
  // The names in the To folder.
  std::set<std::string> Stored() const {
    std::set<std::string> names;
    if (!std::filesystem::exists(Dir.Path("out"))) return names;
    for (const auto& entry : std::filesystem::directory_iterator(Dir.Path("out"))) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // Waits (at most 10 s) until the server has sent the first part of an
  // unfinished body.
  void AwaitUnfinished() const {
    for (int i = 0; i < 1000 && !UnfinishedSent; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::set<std::string> Missing;
  std::set<std::string> FailOnce;    // answered 503 the first time only
  std::set<std::string> Unfinished;  // the body stops in the middle until the client goes
  std::map<std::string, std::string> Bodies;
  std::atomic<bool> UnfinishedSent{false};
  int SlowMs = 0;
  TestHttpServer Server;
  TempDir Dir;
  std::map<std::string, std::string> Env;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) {
    ++count;
  }
  return count;
}

TEST_F(CliTest, RunsAJobFileWithOneLinePerFile) {
  const TResult result = RunCli({"--yes", Job(3)}, Env);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(Local("f1.txt"), "body of /d/f1.txt");
  EXPECT_EQ(Local("f3.txt"), "body of /d/f3.txt");
  EXPECT_NE(result.Out.find("stored  " + Server.Origin() + "/d/f2.txt -> " + Dir.Path("out") +
                            "/f2.txt (17 bytes)\n"),
            std::string::npos)
      << result.Out;
  EXPECT_TRUE(
      result.Out.ends_with("[完了] ダウンロードが終わりました。\n\nダウンロードファイル数 : 3\n"
                           "stored 3, skipped 0, missing 0\n"))
      << result.Out;
  EXPECT_TRUE(std::filesystem::is_empty(Dir.Path("tmp")));

  // Closing lines with every count, also where the status line hides missing files.
  Missing = {"/d/f5.txt"};
  const TResult quiet = RunCli({"--quiet", "--set", "St_SkipIfExist=Yes", Job(5)}, Env);
  EXPECT_EQ(quiet.Status, 1);
  EXPECT_EQ(quiet.Out,
            "[完了] ダウンロードが終わりました。\n\nダウンロードファイル数 : 1\n"
            "stored 1, skipped 3, missing 1\n");
}

// Several connections: the files and the lines in From order, each retry a line.
TEST_F(CliTest, ParallelRunReportsInOrderAndShowsRetries) {
  FailOnce = {"/d/f2.txt"};
  const TResult result = RunCli({"--yes", "-j", "4", "--retries", "1", Job(6)}, Env);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(Stored().size(), 6u);
  EXPECT_NE(result.Out.find("retry   " + Server.Origin() +
                            "/d/f2.txt (try 2 of 2 in 0 s: HTTP/1.0 503 Busy)\n"),
            std::string::npos)
      << result.Out;
  size_t last = 0;
  for (int n = 1; n <= 6; ++n) {
    const size_t at = result.Out.find("stored  " + Server.Origin() + "/d/f" + std::to_string(n));
    ASSERT_NE(at, std::string::npos) << n << result.Out;
    if (n > 1) {
      EXPECT_GT(at, last) << n;
    }
    last = at;
  }
  const TResult keys = RunCli({"--keys", "-j99", "--retries=2", Job(6)}, Env);
  EXPECT_NE(keys.Out.find("St_Connections = 16\n"), std::string::npos) << keys.Out;
  EXPECT_NE(keys.Out.find("St_Retries = 2\n"), std::string::npos) << keys.Out;
}

// A job file gives the same files as in the window: loading applies its lines and
// nothing else, so To fields of its own stay although the links are on.
TEST_F(CliTest, NamesFilesAsTheWindowDoes) {
  const std::string ownTo = "To_FileName = x*.bin\r\nTo_StartPoint = 11\r\n";
  const struct {
    const char* Name;
    std::string Extra;
    std::vector<std::string> Sets;
    std::set<std::string> Files;
  } cases[] = {
      {"job as saved", ownTo, {}, {"x11.bin", "x12.bin"}},
      // Each override is an edit of the field: the linked To side follows.
      {"From end edited", ownTo, {"Fr_EndPoint=3"}, {"f1.txt", "f2.txt", "f3.txt"}},
      {"own To start given after",
       ownTo,
       {"Fr_EndPoint=3", "To_StartPoint=11"},
       {"f11.txt", "f12.txt", "f13.txt"}},
      {"range link off",
       ownTo,
       {"St_SyncNumRange=off", "Fr_EndPoint=3"},
       {"f11.txt", "f12.txt", "f13.txt"}},
      {"range link switched on",
       "St_SyncFileName = false\r\nSt_SyncNumRange = false\r\n" + ownTo,
       {"St_SyncNumRange=on"},
       {"x1.bin", "x2.bin"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(Dir.Path("out"));
    std::vector<std::string> args{"--yes", "--quiet"};
    for (const std::string& set : c.Sets) args.insert(args.end(), {"--set", set});
    args.push_back(Job(2, c.Extra));
    const TResult result = RunCli(args, Env);
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(Stored(), c.Files);
  }
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
}

// One message for each field or override that cannot be used, naming its key; the
// run does not start.
TEST_F(CliTest, BadInputNamesEachKeyOnce) {
  const struct {
    std::vector<std::string> Sets;
    std::vector<std::string> Messages;  // the whole error stream holds these, once each
  } cases[] = {
      {{"Fr_Max=abc"}, {"[整数エラー] Fr_Max = abc\n最大ファイル数が整数でないか、"}},
      {{"Fr_StartPoint=x"}, {"[整数エラー] Fr_StartPoint = x\n数値部分の範囲が整数でないか、"}},
      {{"Fr_EndPoint=1e3", "To_Max=many", "Fr_Max=1x"},
       {"[整数エラー] Fr_EndPoint = 1e3\n数値部分", "[整数エラー] To_Max = many\n最大ファイル数",
        "[整数エラー] Fr_Max = 1x\n最大ファイル数"}},
      {{"St_SkipIfExist=maybe"},
       {"pellora-cli: St_SkipIfExist takes true or false (or 1/0, yes/no, on/off), not 'maybe'"}},
      {{"St_UseProxy="}, {"pellora-cli: St_UseProxy takes true or false"}},
      {{"St_TimeOut=soon"}, {"pellora-cli: St_TimeOut needs an integer value, not 'soon'"}},
      {{"No_Such_Key=1"}, {"pellora-cli: unknown setting 'No_Such_Key'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Sets[0]);
    std::vector<std::string> args{"--yes"};
    for (const std::string& set : c.Sets) args.insert(args.end(), {"--set", set});
    args.push_back(Job(3));
    const TResult result = RunCli(args, Env);
    EXPECT_EQ(result.Status, 64);
    for (const std::string& message : c.Messages) {
      EXPECT_EQ(Count(result.Err, message), 1u) << result.Err;
    }
    EXPECT_EQ(Count(result.Err, "[") + Count(result.Err, "pellora-cli:"), c.Messages.size())
        << result.Err;
  }
  EXPECT_TRUE(Server.Requests().empty());
  EXPECT_FALSE(std::filesystem::exists(Dir.Path("out")));
}

TEST_F(CliTest, KeysShowEveryValueInEffectWithItsMeaning) {
  const TResult result =
      RunCli({"--keys", "--set", "St_SkipIfExist=on", "--set", "St_Password=pw", Job(7)}, Env);
  EXPECT_EQ(result.Status, 0) << result.Err;
  for (const std::string& line : std::vector<std::string>{
           "St_SkipIfExist = true\n    skip numbers whose local file already exists",
           "To_Max = 無制限\n    local files per numbered folder", "To_EndPoint = 7\n",
           "Fr_BaseDir = " + Server.Origin() + "/d\n", "St_Password = (hidden)\n"}) {
    EXPECT_EQ(Count(result.Out, line), 1u) << line << "\n" << result.Out;
  }
  EXPECT_EQ(result.Out.find("pw\n"), std::string::npos);
  EXPECT_TRUE(Server.Requests().empty());
}

// A password need not be on the command line, where every user can read it.
TEST_F(CliTest, PasswordFromTheEnvironmentOrAFile) {
  std::ofstream(Dir.Path("password")) << "filepw\nsecond line\n";
  const std::string fileOption = "--password-file=" + Dir.Path("password");
  const struct {
    std::vector<std::string> Args;
    std::string Variable;
    std::string Credentials;  // base64 of user:password
  } cases[] = {
      {{}, "envpw", "dTplbnZwdw=="},
      {{fileOption}, "", "dTpmaWxlcHc="},
      {{"--password-file", Dir.Path("password")}, "envpw", "dTpmaWxlcHc="},
      {{"--set", "St_Password=setpw"}, "envpw", "dTpzZXRwdw=="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Credentials);
    std::map<std::string, std::string> env = Env;
    env["PELLORA_PASSWORD"] = c.Variable;
    std::vector<std::string> args = c.Args;
    args.insert(args.begin(), "--yes");
    args.push_back(Job(1, "St_RequireAuth = true\r\nSt_UserID = u\r\nSt_Password = job\r\n"));
    const size_t before = Server.Requests().size();
    const TResult result = RunCli(args, env);
    EXPECT_EQ(result.Status, 0) << result.Err;
    ASSERT_EQ(Server.Requests().size(), before + 1);
    EXPECT_NE(Server.Requests().back().find("Authorization: Basic " + c.Credentials + "\r\n"),
              std::string::npos)
        << Server.Requests().back();
  }
  const TResult missing = RunCli({"--password-file", Dir.Path("none"), Job(1)}, Env);
  EXPECT_EQ(missing.Status, 64);
  EXPECT_NE(missing.Err.find("cannot read the password file " + Dir.Path("none")),
            std::string::npos);
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
  EXPECT_EQ(refused.Status, 3);
  EXPECT_NE(refused.Err.find("[接続エラー] From : 1\n"), std::string::npos) << refused.Err;

  // A file the user made read-only is a file that cannot be stored; it stays.
  ::chmod(Dir.Path("out/f3.txt").c_str(), 0444);
  const TResult readOnly = RunCli({"--yes", Job(3)}, Env);
  EXPECT_EQ(readOnly.Status, 4);
  EXPECT_NE(readOnly.Err.find("[保存エラー] ファイルを保存できませんでした。\n" +
                              Dir.Path("out/f3.txt") + "\nアクセスが拒否されました。"),
            std::string::npos)
      << readOnly.Err;
  EXPECT_EQ(Local("f3.txt"), "body of /d/f3.txt");

  std::ofstream(Dir.Path("plain")) << "a file";
  const TResult noFolder =
      RunCli({"--yes", "--set", "To_BaseDir=" + Dir.Path("plain/sub"), Job(1)}, Env);
  EXPECT_EQ(noFolder.Status, 4) << noFolder.Err;
  EXPECT_NE(noFolder.Err.find("フォルダの作成に失敗しました。"), std::string::npos);

  const TResult order = RunCli({"--set", "Fr_StartPoint=5", Job(3)}, Env);
  EXPECT_EQ(order.Status, 64);
  EXPECT_NE(order.Err.find("Fromの始点を、終点より小さい数値にしてください。"), std::string::npos);

  const TResult notAsked = RunCli({"--set", "To_BaseDir=" + Dir.Path("new/deep"), Job(1)}, Env);
  EXPECT_EQ(notAsked.Status, 64);
  EXPECT_FALSE(std::filesystem::exists(Dir.Path("new")));

  ASSERT_EQ(::mkfifo(Dir.Path("fifo.pel").c_str(), 0600), 0);
  const TResult fifo = RunCli({Dir.Path("fifo.pel")}, Env);
  EXPECT_EQ(fifo.Status, 64);
  EXPECT_EQ(fifo.Err, "[設定ファイル] 設定ファイル \"" + Dir.Path("fifo.pel") +
                          "\" を読み込めませんでした。\n通常のファイルではありません。\n");

  EXPECT_EQ(RunCli({"--bogus"}, Env).Status, 64);
  EXPECT_EQ(RunCli({Dir.Path("missing.pel")}, Env).Status, 64);
  EXPECT_EQ(RunCli({"--help"}, Env).Status, 0);
}

// https as a user meets it: the server's CA is trusted through the job's CA file or
// the environment, and not at all without either.
TEST_F(CliTest, HttpsVerifiesTheServerAgainstTheTrustedCas) {
  const testing::TestPki pki;
  testing::TestServerOptions tls;
  tls.Tls = &pki.Server(testing::TestPki::Kind::Good);
  TestHttpServer secure(
      [](TestConnection& connection) {
        const std::string request = connection.ReadRequest();
        connection.Send(Reply("200 OK", {"Content-Length: 6"}, "secure"));
      },
      tls);
  const std::string base = "Fr_BaseDir=" + secure.OriginFor("localhost") + "/d";

  const TResult untrusted = RunCli({"--yes", "--set", base, Job(2)}, Env);
  EXPECT_EQ(untrusted.Status, 3);
  EXPECT_NE(untrusted.Err.find("[証明書エラー] From : 1\nサーバ localhost の証明書"),
            std::string::npos)
      << untrusted.Err;
  EXPECT_TRUE(Stored().empty());

  const TResult trusted =
      RunCli({"--yes", "--set", base, "--set", "St_TrustedCaFile=" + pki.CaFile(), Job(2)}, Env);
  EXPECT_EQ(trusted.Status, 0) << trusted.Err;
  EXPECT_EQ(Local("f2.txt"), "secure");

  std::map<std::string, std::string> env = Env;
  env["SSL_CERT_FILE"] = pki.CaFile();
  std::filesystem::remove_all(Dir.Path("out"));
  const TResult fromEnvironment = RunCli({"--yes", "--set", base, Job(2)}, env);
  EXPECT_EQ(fromEnvironment.Status, 0) << fromEnvironment.Err;
  EXPECT_EQ(Local("f1.txt"), "secure");
}

TEST_F(CliTest, InterruptStopsAfterTheCurrentFile) {
  SlowMs = 300;
  TSpawn spawn;
  spawn.WhileRunning = [](pid_t pid) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGINT);
  };
  const TResult result = RunCli({"--yes", Job(20)}, Env, spawn);
  EXPECT_EQ(result.Status, 2) << result.Err;
  EXPECT_NE(result.Out.find("[強制終了] ダウンロードを強制終了しました。"), std::string::npos)
      << result.Out;
  const size_t stored = Server.Requests().size();
  EXPECT_GE(stored, 1u);
  EXPECT_LT(stored, 20u);
  EXPECT_EQ(Local("f1.txt"), "body of /d/f1.txt");
  EXPECT_TRUE(std::filesystem::is_empty(Dir.Path("tmp")));
}

// A second Ctrl-C, SIGTERM and SIGHUP stop in the middle of a file: a stop, not a
// connection error, and nothing of the unfinished file stays.
TEST_F(CliTest, StopSignalsAbortTheFileInFlight) {
  Unfinished = {"/d/f2.txt"};
  for (const std::vector<int>& signals :
       std::vector<std::vector<int>>{{SIGTERM}, {SIGHUP}, {SIGINT, SIGINT}}) {
    SCOPED_TRACE(signals.front());
    UnfinishedSent = false;
    std::filesystem::remove_all(Dir.Path("out"));
    std::filesystem::create_directory(Dir.Path("out"));
    TSpawn spawn;
    spawn.WhileRunning = [&](pid_t pid) {
      AwaitUnfinished();
      for (int signal : signals) {
        ::kill(pid, signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    };
    const TResult result = RunCli({"--yes", Job(3)}, Env, spawn);
    EXPECT_EQ(result.Status, 2) << result.Err;
    EXPECT_EQ(result.Err, "");
    EXPECT_NE(result.Out.find("[強制終了] ダウンロードを強制終了しました。\n\n"
                              "ダウンロードファイル数 : 1\n\nFrom : 2 , To : 1で中断しました。"),
              std::string::npos)
        << result.Out;
    EXPECT_EQ(Stored(), std::set<std::string>{"f1.txt"});
  }
}

// Writes that fail never end the program in the middle of a file.
TEST_F(CliTest, FailedWritesAreReportedNotFatal) {
  // A file-size limit: the file cannot be stored, and says why.
  Bodies["/d/f1.txt"] = std::string(200000, 'x');
  TSpawn limited;
  limited.Prefix = {"prlimit", "--fsize=65536"};
  const TResult tooBig = RunCli({"--yes", Job(2)}, Env, limited);
  EXPECT_EQ(tooBig.Status, 4) << tooBig.Err;
  EXPECT_NE(tooBig.Err.find("[保存エラー] ファイルを保存できませんでした。\n" +
                            Dir.Path("out/f1.txt") + "\nファイルが大きすぎます。\n"),
            std::string::npos)
      << tooBig.Err;
  EXPECT_EQ(Stored(), std::set<std::string>{});

  // Output that nobody reads any more: the run goes on.
  Bodies.clear();
  TSpawn unread;
  unread.OutputClosed = true;
  const TResult result = RunCli({"--yes", Job(3)}, Env, unread);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(Stored(), (std::set<std::string>{"f1.txt", "f2.txt", "f3.txt"}));
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
