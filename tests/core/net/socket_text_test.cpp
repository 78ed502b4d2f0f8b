#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "core/net/stream_socket.h"
#include "core/net/text_fields.h"
#include "core/net/winsock_message.h"
#include "net/expect_error.h"

namespace pellora {
namespace {

using testing::ExpectError;

TEST(SocketErrorText, TableAndErrnoMapping) {
  TStreamSocket socket;
  EXPECT_EQ(socket.SocketErrorStr(10061), "10061:Connection refused");
  EXPECT_EQ(socket.SocketErrorStr(11001), "11001:Host not found");
  EXPECT_EQ(socket.SocketErrorStr(12345), "Unknown Error No. 12345");
  EXPECT_EQ(socket.SocketErrorStr(0), "");
  ASSERT_EQ(WinsockMessage().size(), 51u);
  EXPECT_EQ(WinsockMessage().front().Number, 10004);
  EXPECT_STREQ(WinsockMessage().back().Text, "Unrecognized error code");

  const struct {
    int err;
    int32_t number;
  } cases[] = {{ECONNREFUSED, 10061}, {ECONNRESET, 10054}, {ETIMEDOUT, 10060},
               {EAGAIN, 10035},       {ENOTCONN, 10057},   {EHOSTUNREACH, 10065},
               {EINPROGRESS, 10036},  {EADDRINUSE, 10048}, {ENETUNREACH, 10051}};
  for (const auto& c : cases) EXPECT_EQ(SocketErrorFromErrno(c.err), c.number) << "errno " << c.err;
  // An errno without a row must still read as a failure, never as success.
  EXPECT_GT(SocketErrorFromErrno(ENOMEM), 10000);
}

TEST(SocketErrorText, ErrorManagerAndSetWSAError) {
  TStreamSocket socket;
  std::vector<std::string> reported;
  socket.OnError = [&](TStreamSocket&, int32_t number, const std::string& text) {
    reported.push_back(std::to_string(number) + "|" + text);
  };
  socket.SetWSAError(10054, "");
  socket.SetWSAError(10053, "own text");
  EXPECT_EQ(reported,
            (std::vector<std::string>{"10054|10054:Connection reset by peer", "10053|own text"}));
  EXPECT_EQ(socket.GetLastErrorNo(), 10053);
  ExpectError<ESockError>([&] { socket.ErrorManager(10035); },
                          "10053:Software caused connection abort");
  socket.SetWSAError(10035, "");
  EXPECT_NO_THROW(socket.ErrorManager(10035));  // the ignored number
}

TEST(TextFields, NthWordAndNthPos) {
  const struct {
    const char* text;
    char delimiter;
    int n;
    const char* word;
    size_t pos;
  } cases[] = {
      {"http://host:81/a", '/', 1, "http:", 6},
      {"http://host:81/a", '/', 2, "", 7},
      {"http://host:81/a", '/', 3, "host:81", 15},
      {"http://host:81/a", '/', 4, "a", 17},
      {"a::b", ':', 3, "b", 5},
      {"abc", '/', 2, "", 4},
      {"http://h/", '/', 3, "h", 9},
      {"http://h", '/', 3, "h", 9},
      {"", '/', 1, "", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NthWord(c.text, c.delimiter, c.n), c.word) << c.text << " " << c.n;
    EXPECT_EQ(NthPos(c.text, c.delimiter, c.n), c.pos) << c.text << " " << c.n;
  }
  std::ostringstream out;
  StreamLn(out, "line");
  EXPECT_EQ(out.str(), "line\r\n");
}

TEST(StatusMessages, OnlyUpToReportLevel) {
  std::vector<std::string> seen;
  TStreamSocket socket;
  socket.OnStatus = [&](TStreamSocket&, const std::string& text) { seen.push_back(text); };
  socket.Cancel();  // level 8, ReportLevel 0: silent
  socket.ReportLevel = 4;
  socket.Cancel();
  socket.StatusMessage(4, "level four");
  socket.ReportLevel = 8;
  socket.Cancel();
  EXPECT_EQ(seen, (std::vector<std::string>{"level four", "Canceling"}));
  EXPECT_EQ(socket.LastStatus(), "Canceling");
}

}  // namespace
}  // namespace pellora
