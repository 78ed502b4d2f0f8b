#include "core/net/stream_socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

#include "core/net/host_lookup.h"
#include "core/net/text_fields.h"
#include "core/net/winsock_message.h"
#include "net/expect_error.h"
#include "net/test_http_server.h"

namespace pellora {
namespace {

using testing::ExpectError;

using namespace std::chrono_literals;
using testing::TestConnection;
using testing::TestHttpServer;
using Clock = std::chrono::steady_clock;

void ConnectTo(TStreamSocket& socket, const TestHttpServer& server) {
  socket.Host = "127.0.0.1";
  socket.Port = static_cast<uint32_t>(server.Port());
  socket.Connect();
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(random() & 0xff);
  return data;
}

// ------------------------------------------------------------------ ReadLn

struct LineCase {
  const char* name;
  std::vector<std::string> chunks;  // sent with short pauses, then the server closes
  std::vector<std::string> lines;   // what successive ReadLn calls return
};

TEST(ReadLn, ReturnsWholeLinesAndConsumesNothingAfterThem) {
  const LineCase cases[] = {
      {"status and header pending",
       {"HTTP/1.0 200 OK\r\nX-A: 1\r\n"},
       {"HTTP/1.0 200 OK\r\n", "X-A: 1\r\n", ""}},
      {"line split over arrivals",
       {"Sp", "lit\r", "\n", "LF only\n"},
       {"Split\r\n", "LF only\n", ""}},
      {"peer closes mid-line", {"whole\r\n", "part"}, {"whole\r\n", ""}},
      {"empty lines", {"\r\n\n"}, {"\r\n", "\n", ""}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server([&](TestConnection& connection) {
      connection.ReadRequest();
      for (const std::string& chunk : c.chunks) {
        connection.Send(chunk);
        connection.Pause(30ms);
      }
    });
    TStreamSocket socket;
    socket.TimeOut = 5000;
    ConnectTo(socket, server);
    socket.Write("hello\r\n\r\n");
    for (const std::string& expected : c.lines) EXPECT_EQ(socket.ReadLn(), expected);
    socket.Disconnect();
  }
}

TEST(ReadLn, LeavesTheRestForACapture) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    connection.Send("HTTP/1.0 200 OK\r\n\r\nBODY\r\nmore");
  });
  TStreamSocket socket;
  socket.TimeOut = 5000;
  ConnectTo(socket, server);
  socket.Writeln("GET / HTTP/1.0\r\n");
  EXPECT_EQ(socket.ReadLn(), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(socket.ReadLn(), "\r\n");
  std::string body;
  socket.CaptureString(body, -1);
  EXPECT_EQ(body, "BODY\r\nmore");
  EXPECT_EQ(socket.ReceivedCount, 10);
}

TEST(ReadLn, LineLongerThanTheBufferIsAnError) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    connection.Send(std::string(TStreamSocket::kBufferSize + 100, 'a') + "\r\n");
    connection.WaitForClose();
  });
  TStreamSocket socket;
  socket.TimeOut = 5000;
  ConnectTo(socket, server);
  socket.Write("x\r\n\r\n");
  ExpectError<ESockError>([&] { socket.ReadLn(); }, "Line longer than 65536 bytes received");
  socket.Disconnect();
}

// ------------------------------------------------------------------ time-outs and cancel

struct SilentCase {
  const char* name;
  std::string sent_first;  // what the server sends before it falls silent
  std::function<void(TStreamSocket&)> operation;
  const char* message;
};

TEST(TimeOut, SilenceOfTimeOutEndsTheOperation) {
  const SilentCase cases[] = {
      {"ReadLn", "", [](TStreamSocket& s) { s.ReadLn(); }, "Socket readln aborted"},
      {"CaptureFile", "some data",
       [](TStreamSocket& s) {
         testing::TempDir dir;
         s.CaptureFile(dir.Path("body"));
       },
       "Socket send aborted"},
      {"CaptureString", "some data",
       [](TStreamSocket& s) {
         std::string text;
         s.CaptureString(text, -1);
       },
       "Socket capture aborted"},
  };
  for (const SilentCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server([&](TestConnection& connection) {
      connection.ReadRequest();
      connection.Send(c.sent_first);
      connection.WaitForClose();
    });
    TStreamSocket socket;
    socket.TimeOut = 300;
    ConnectTo(socket, server);
    socket.Write("x\r\n\r\n");
    const auto start = Clock::now();
    ExpectError<EAbortError>([&] { c.operation(socket); }, c.message);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 3s);
    socket.Disconnect();
  }
}

TEST(TimeOut, BurstsShorterThanTimeOutNeverTimeOut) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    for (int i = 0; i < 8; ++i) {
      connection.Send("burst" + std::to_string(i) + ";");
      connection.Pause(300ms);
    }
  });
  TStreamSocket socket;
  socket.TimeOut = 1500;  // the whole transfer takes longer than this
  ConnectTo(socket, server);
  socket.Write("x\r\n\r\n");
  std::string text;
  const auto start = Clock::now();
  socket.CaptureString(text, -1);
  EXPECT_GT(Clock::now() - start, 1500ms);
  EXPECT_EQ(text, "burst0;burst1;burst2;burst3;burst4;burst5;burst6;burst7;");
}

TEST(TimeOut, ZeroWaitsUntilAbortFromThePumpAndTheNextOperationRuns) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    connection.ReadRequest();  // the second request comes after the abort
    connection.Send("late\r\n");
    connection.WaitForClose();
  });
  TStreamSocket socket;
  socket.TimeOut = 0;
  ConnectTo(socket, server);
  socket.Write("first\r\n\r\n");
  const auto start = Clock::now();
  int pumps = 0;
  socket.OnPump = [&] {
    ++pumps;
    if (Clock::now() - start > 1200ms) socket.Abort();
  };
  ExpectError<EAbortError>([&] { socket.ReadLn(); }, "Socket readln aborted");
  EXPECT_GE(Clock::now() - start, 1200ms);  // no time-out ended it before
  // The pump ran in slices, not in a busy loop.
  EXPECT_GT(pumps, 10);
  EXPECT_LT(pumps, 1000);
  socket.OnPump = nullptr;
  socket.Write("second\r\n\r\n");
  EXPECT_EQ(socket.ReadLn(), "late\r\n");
}

TEST(Cancel, FromThePumpDuringACapture) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    for (int i = 0; i < 100; ++i) {
      connection.Send("tick");
      connection.Pause(20ms);
    }
  });
  TStreamSocket socket;
  socket.TimeOut = 5000;
  ConnectTo(socket, server);
  socket.Write("x\r\n\r\n");
  socket.OnPacketRecvd = [](TStreamSocket& s) {
    if (s.ReceivedCount >= 12) s.Cancel();
  };
  std::string text;
  ExpectError<EAbortError>([&] { socket.CaptureString(text, -1); }, "Socket capture aborted");
  EXPECT_GE(text.size(), 12u);
  socket.OnPacketRecvd = nullptr;
  // The cancel was consumed: the next capture runs until the size is reached.
  socket.CaptureString(text, 8);
  EXPECT_GE(text.size(), 8u);
  socket.Disconnect();
}

// ------------------------------------------------------------------ connect

TEST(Connect, RefusedConnectionReadsAsRefused) {
  TStreamSocket socket;
  socket.Host = "127.0.0.1";
  socket.Port = static_cast<uint32_t>(testing::UnusedPort());
  socket.TimeOut = 5000;
  try {
    socket.Connect();
    FAIL() << "connected to a port where nothing listens";
  } catch (const ESockError& error) {
    EXPECT_EQ(std::string(error.what()), "10061:Connection refused");
  }
  EXPECT_EQ(socket.GetLastErrorNo(), 10061);
  EXPECT_FALSE(socket.Connected());
  // Still usable after Disconnect.
  socket.Disconnect();
  TestHttpServer server([](TestConnection& connection) { connection.ReadRequest(); });
  ConnectTo(socket, server);
  EXPECT_TRUE(socket.Connected());
}

TEST(Connect, LookupOnlyForNamesAndUnknownHosts) {
  TestHttpServer server([](TestConnection& connection) { connection.ReadRequest(); });
  TStreamSocket socket;
  socket.TimeOut = 5000;
  socket.Port = static_cast<uint32_t>(server.Port());
  int resolved = 0;
  socket.OnHostResolved = [&](TStreamSocket&) { ++resolved; };

  socket.Host = "127.0.0.1";
  socket.Connect();
  EXPECT_EQ(resolved, 0);
  EXPECT_EQ(socket.GetRemoteIP(), "127.0.0.1");
  EXPECT_EQ(socket.GetLocalAddress(), "127,0,0,1");
  socket.Disconnect();

  socket.Host = "localhost";
  socket.Connect();
  EXPECT_EQ(resolved, 1);
  EXPECT_EQ(socket.GetRemoteIP(), "127.0.0.1");
  socket.Disconnect();

  socket.Host = "pellora-no-such-host.invalid";
  ExpectError<ESockError>([&] { socket.Connect(); }, "Null Remote Address");
  ExpectError<ESockError>([&] { socket.ResolveRemoteHost(); }, "Host Lookup Failed");

  bool asked = false;
  socket.OnInvalidHost = [&](bool& handled) {
    asked = true;
    socket.Host = "127.0.0.1";
    handled = true;
  };
  socket.Host = "pellora-no-such-host.invalid";
  socket.Connect();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(socket.Connected());
}

TEST(Connect, ProxyReplacesHostAndPort) {
  TestHttpServer proxy([](TestConnection& connection) { connection.ReadRequest(); });
  TStreamSocket socket;
  socket.TimeOut = 5000;
  socket.Host = "pellora-no-such-host.invalid";
  socket.Port = 1;
  socket.Proxy = "127.0.0.1";
  socket.ProxyPort = static_cast<uint32_t>(proxy.Port());
  socket.Connect();
  socket.Write("x\r\n\r\n");
  socket.Disconnect();
  for (int i = 0; i < 200 && proxy.Requests().empty(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(proxy.Connections(), 1);
}

TEST(Connect, PeerCloseReplacesTheSocketOnlyWhenNothingIsUnread) {
  std::atomic<int> served{0};
  std::atomic<bool> send_data{false};
  TestHttpServer server([&](TestConnection& connection) {
    connection.ReadRequest();
    if (send_data) connection.Send("unread\r\n");
    connection.Close();
    ++served;
  });
  auto wait_served = [&](int count) {
    for (int i = 0; i < 300 && served < count; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(50ms);  // let the close reach the client
  };
  TStreamSocket socket;
  socket.TimeOut = 5000;
  socket.Cancel();  // forgotten by Connect
  ConnectTo(socket, server);
  socket.Write("x\r\n\r\n");
  wait_served(1);
  EXPECT_NO_THROW(socket.Connect());  // no Disconnect needed

  send_data = true;
  socket.Write("x\r\n\r\n");
  wait_served(2);
  ExpectError<ESockError>([&] { socket.Connect(); }, "Already connected");
  socket.Disconnect();
  EXPECT_NO_THROW(socket.Connect());
}

TEST(Connect, CertifyConnect) {
  TStreamSocket socket;
  bool told = false;
  socket.OnNotConnected = [&] { told = true; };
  ExpectError<std::runtime_error>([&] { socket.CertifyConnect(); }, "Not Connected");
  EXPECT_TRUE(told);
  TestHttpServer server([](TestConnection& connection) { connection.ReadRequest(); });
  ConnectTo(socket, server);
  EXPECT_NO_THROW(socket.CertifyConnect());
}

// ------------------------------------------------------------------ transfers

TEST(Transfer, SendFileAndSendStreamArriveByteExact) {
  const std::string data = RandomBytes(3 * 1024 * 1024 + 17, 7);
  TestHttpServer server([&](TestConnection& connection) {
    for (int round = 0; round < 2; ++round) {
      const std::string got = connection.ReadBytes(data.size());
      connection.Send(got == data ? "SAME\r\n" : "DIFFERENT\r\n");
    }
    connection.WaitForClose();
  });
  testing::TempDir dir;
  const std::string path = dir.Path("send.bin");
  std::ofstream(path, std::ios::binary)
      .write(data.data(), static_cast<std::streamsize>(data.size()));

  TStreamSocket socket;
  socket.TimeOut = 5000;
  int packets = 0;
  socket.OnPacketSent = [&](TStreamSocket&) { ++packets; };
  ConnectTo(socket, server);
  socket.SendFile(path);
  EXPECT_EQ(socket.SentCount, static_cast<int64_t>(data.size()));
  EXPECT_GT(packets, 0);
  EXPECT_EQ(socket.ReadLn(), "SAME\r\n");

  std::istringstream stream(data);
  stream.seekg(100);  // SendStream starts from the beginning
  socket.SendStream(stream);
  EXPECT_EQ(socket.SentCount, static_cast<int64_t>(data.size()));
  EXPECT_EQ(socket.ExpectedLength, static_cast<int64_t>(data.size()));
  EXPECT_EQ(socket.ReadLn(), "SAME\r\n");

  ExpectError<EFileError>([&] { socket.SendFile(dir.Path("missing")); },
                          "Cannot open file \"" + dir.Path("missing") + "\"");
}

TEST(Transfer, TransactionReadDataAvailableAndClearInput) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    connection.Send("250 fine\r\n");
    connection.ReadRequest();
    connection.Send("ab");
    connection.Pause(50ms);
    connection.Send("cdef");
    connection.ReadRequest();
    connection.Send("junk");
    connection.ReadRequest();
    connection.Send("after\r\n");
    connection.WaitForClose();
  });
  TStreamSocket socket;
  socket.TimeOut = 5000;
  ConnectTo(socket, server);
  EXPECT_EQ(socket.Transaction("HELO\r\n"), "250 fine\r\n");
  EXPECT_EQ(socket.ReplyCode, 250);
  EXPECT_EQ(socket.LastReply(), "250 fine\r\n");

  socket.Write("read\r\n\r\n");
  int pumps = 0;
  socket.OnPump = [&] { ++pumps; };
  EXPECT_EQ(socket.Read(3), "abc");  // waits for the second piece without spinning
  EXPECT_LT(pumps, 500);
  socket.OnPump = nullptr;
  EXPECT_TRUE(socket.DataAvailable());
  EXPECT_EQ(socket.Read(0), "def");
  EXPECT_FALSE(socket.DataAvailable());

  socket.Write("junk\r\n\r\n");
  while (!socket.DataAvailable()) std::this_thread::sleep_for(5ms);
  socket.ClearInput();
  socket.Write("after\r\n\r\n");
  EXPECT_EQ(socket.ReadLn(), "after\r\n");
}

TEST(Transfer, CaptureStreamAndAppendFile) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    connection.Send("0123456789");
    connection.ReadRequest();
    connection.Send("tail");
    connection.Close();
  });
  TStreamSocket socket;
  socket.TimeOut = 5000;
  ConnectTo(socket, server);
  socket.Write("x\r\n\r\n");
  std::stringstream stream;
  stream << "ab";
  socket.CaptureStream(stream, 12);  // until the stream holds 12 bytes
  EXPECT_EQ(stream.str(), "ab0123456789");

  testing::TempDir dir;
  const std::string path = dir.Path("append.bin");
  std::ofstream(path) << "head";
  socket.Write("x\r\n\r\n");
  socket.AppendFile(path);
  EXPECT_EQ(testing::ReadFileBytes(path), "headtail");
  EXPECT_FALSE(socket.Connected());  // the peer's close ended it
}

TEST(Resources, NoDescriptorOrThreadLeftBehind) {
  const int before = testing::OpenDescriptorCount();
  {
    TestHttpServer server([](TestConnection& connection) {
      connection.ReadRequest();
      connection.WaitForClose(2s);
    });
    TStreamSocket socket;
    socket.TimeOut = 200;
    for (int i = 0; i < 3; ++i) {
      ConnectTo(socket, server);
      socket.Write("x\r\n\r\n");
      EXPECT_THROW(socket.ReadLn(), EAbortError);
      socket.Disconnect();
    }
    socket.Host = "localhost";
    socket.Connect();
    socket.Disconnect();
    socket.Port = static_cast<uint32_t>(testing::UnusedPort());
    EXPECT_THROW(socket.Connect(), ESockError);
    socket.Disconnect();
    socket.Host = "pellora-no-such-host.invalid";
    EXPECT_THROW(socket.Connect(), ESockError);
  }
  for (int i = 0; i < 500 && THostLookup::Running() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(THostLookup::Running(), 0);
  EXPECT_EQ(testing::OpenDescriptorCount(), before);
  EXPECT_EQ(TStreamSocket::InstanceCount(), 0);
}

}  // namespace
}  // namespace pellora
