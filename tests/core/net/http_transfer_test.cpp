// Replies that end early or never end, redirects and where credentials and cookies go.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/net/http_client.h"
#include "net/expect_error.h"
#include "net/http_test_routes.h"
#include "net/test_http_server.h"

namespace pellora {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::FirstLine;
using testing::HasLine;
using testing::Reply;
using testing::TestConnection;
using testing::TestHttpServer;

class HttpTransferTest : public ::testing::Test {
 protected:
  HttpTransferTest() { http.TimeOut = 5000; }
  // Runs `get` once with the body in memory and once captured to a file.
  template <typename F>
  void InBothModes(F&& get) {
    for (const bool to_file : {false, true}) {
      SCOPED_TRACE(to_file ? "body to file" : "body to string");
      http.InputFileMode = to_file;
      http.Body = to_file ? dir.Path("body") : "";
      get(to_file);
    }
  }
  std::string BodyOf(bool to_file) const {
    return to_file ? testing::ReadFileBytes(dir.Path("body")) : http.Body;
  }
  THttpClient http;
  testing::TempDir dir;
};

TEST_F(HttpTransferTest, RepliesCutShortAreErrors) {
  const struct {
    const char* name;
    std::string reply;
    std::string message;
  } cases[] = {
      {"nothing at all", "", "Connection closed without a reply"},
      {"header without its end", "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n",
       "Connection closed before the end of the reply header"},
      {"body shorter than its length", Reply("200 OK", {"Content-Length: 10"}, "short"),
       "Connection closed after 5 of 10 bytes of the body"},
      {"body of an error page cut", Reply("404 Not Found", {"Content-Length: 100"}, "gone"),
       "Connection closed after 4 of 100 bytes of the body"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server(Answer(c.reply));
    InBothModes([&](bool) {
      testing::ExpectError<ESockError>([&] { http.Get(server.Origin() + "/f"); }, c.message);
      EXPECT_FALSE(http.Connected());
    });
  }
}

TEST_F(HttpTransferTest, TheBodyEndsAtItsLengthWhileTheServerKeepsTheConnection) {
  // The server would wait longer than the client's time-out: only a body that ends at
  // its length lets Get return without an error.
  http.TimeOut = 1000;
  const struct {
    const char* name;
    std::string reply;
    std::string body;
  } cases[] = {
      {"exact", Reply("200 OK", {"Content-Length: 5"}, "hello"), "hello"},
      {"more than announced", Reply("200 OK", {"Content-Length: 3"}, "hello"), "hel"},
      {"empty", Reply("200 OK", {"Content-Length: 0"}, ""), ""},
      {"large", Reply("200 OK", {"Content-Length: 200000"}, std::string(200000, 'x')),
       std::string(200000, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server([&](TestConnection& connection) {
      connection.ReadRequest();
      connection.Send(c.reply);
      connection.WaitForClose(3s);
    });
    InBothModes([&](bool to_file) {
      http.Get(server.Origin() + "/f");
      EXPECT_EQ(http.ReplyCode, 200);
      EXPECT_EQ(BodyOf(to_file), c.body);
      EXPECT_FALSE(http.Connected());
    });
  }
  // Without a usable length the body still runs until the server closes.
  TestHttpServer server(
      Answer(Reply("200 OK", {"Content-Length: 4x"}, "body that is longer than four")));
  InBothModes([&](bool to_file) {
    http.Get(server.Origin() + "/f");
    EXPECT_EQ(BodyOf(to_file), "body that is longer than four");
  });
}

// Serves by the exact request target; the Host header can be put into a reply as {host}.
TestHttpServer::Handler Paths(std::map<std::string, std::string> replies) {
  return [replies = std::move(replies)](TestConnection& connection) {
    const std::string request = connection.ReadRequest();
    const std::string target = request.substr(4, request.find(' ', 4) - 4);
    const auto found = replies.find(target);
    if (found == replies.end()) {
      connection.Send(Reply("404 Not Found", {}, "no route"));
      return;
    }
    std::string reply = found->second;
    const size_t host_at = request.find("\r\nHost: ");
    const std::string host =
        request.substr(host_at + 8, request.find("\r\n", host_at + 2) - host_at - 8);
    if (const size_t mark = reply.find("{host}"); mark != std::string::npos) {
      reply.replace(mark, 6, host);
    }
    connection.Send(reply);
  };
}

TEST_F(HttpTransferTest, ALocationIsAbsoluteOnlyWithASchemeOrTwoSlashes) {
  TestHttpServer server(Paths({
      {"/1", Reply("302 Found", {"Location: /a//b"}, "")},
      {"/2", Reply("302 Found", {"Location: /login?next=http://x/"}, "")},
      {"/3", Reply("302 Found", {"Location: //{host}/z"}, "")},
      // An absolute URL built from the Host header comes back to the same port.
      {"/4", Reply("302 Found", {"Location: http://{host}/abs"}, "")},
      {"/a//b", Reply("200 OK", {}, "a//b")},
      {"/login?next=http://x/", Reply("200 OK", {}, "login")},
      {"/z", Reply("200 OK", {}, "z")},
      {"/abs", Reply("200 OK", {}, "abs")},
  }));
  const std::pair<std::string, std::string> cases[] = {
      {"/1", "a//b"}, {"/2", "login"}, {"/3", "z"}, {"/4", "abs"}};
  for (const auto& [start, body] : cases) {
    SCOPED_TRACE(start);
    http.Get(server.Origin() + start);
    EXPECT_EQ(http.ReplyCode, 200);
    EXPECT_EQ(http.Body, body);
  }
  EXPECT_EQ(server.Requests().size(), 8u);
}

TEST_F(HttpTransferTest, CredentialsStayWithTheirPortACookieWithItsHost) {
  TestHttpServer other(Answer(Reply("200 OK", {}, "other port")));
  TestHttpServer first(Paths({
      {"/start", Reply("302 Found",
                       {"Set-Cookie: sid=1",
                        "Location: http://127.0.0.1:" + std::to_string(other.Port()) + "/x"},
                       "")},
      {"/again", Reply("200 OK", {}, "again")},
  }));
  http.HeaderInfo.UserId = "user";
  http.HeaderInfo.Password = "pass";
  http.Get(first.Origin() + "/start");
  EXPECT_EQ(http.Body, "other port");
  ASSERT_EQ(other.Requests().size(), 1u);
  // Same host, another port: another server for credentials, the same host for the
  // cookie (cookies are kept per host, whatever the port).
  EXPECT_EQ(other.Requests()[0].find("Authorization"), std::string::npos);
  EXPECT_TRUE(HasLine(other.Requests()[0], "Cookie: sid=1"));
  http.Get(first.Origin() + "/again");
  ASSERT_EQ(first.Requests().size(), 2u);
  EXPECT_TRUE(HasLine(first.Requests()[1], "Authorization: Basic dXNlcjpwYXNz"));
  EXPECT_TRUE(HasLine(first.Requests()[1], "Cookie: sid=1"));
}

// Serves requests on one connection for as long as the client sends them; after
// `limit` replies it closes, without reading what came after the last.
TestHttpServer::Handler KeepAlive(int limit, std::chrono::milliseconds before_close = 0ms) {
  return [limit, before_close](TestConnection& connection) {
    for (int served = 0; served < limit; ++served) {
      const std::string request = connection.ReadRequest();
      if (request.empty()) return;
      const std::string body = "reply " + std::to_string(served + 1);
      connection.Send(Reply(
          "200 OK", {"Connection: keep-alive", "Content-Length: " + std::to_string(body.size())},
          body));
    }
    connection.Pause(before_close);
  };
}

TEST_F(HttpTransferTest, AKeptConnectionCarriesTheNextRequests) {
  TestHttpServer server(KeepAlive(100));
  http.KeepConnection = true;
  for (int i = 1; i <= 3; ++i) {
    http.Get(server.Origin() + "/f" + std::to_string(i));
    EXPECT_EQ(http.Body, "reply " + std::to_string(i));
  }
  EXPECT_EQ(server.Connections(), 1);
  ASSERT_EQ(server.Requests().size(), 3u);
  EXPECT_TRUE(HasLine(server.Requests()[0], "Connection: keep-alive"));
  // Another server, or a client that does not keep connections, gets a new one.
  TestHttpServer other(KeepAlive(100));
  http.Get(other.Origin() + "/g");
  EXPECT_EQ(other.Connections(), 1);
  http.KeepConnection = false;
  http.Get(other.Origin() + "/h");
  EXPECT_EQ(other.Connections(), 2);
  EXPECT_EQ(other.Requests()[1].find("Connection:"), std::string::npos);
  EXPECT_FALSE(http.Connected());
}

TEST_F(HttpTransferTest, AKeptConnectionTheServerClosedIsReplacedUnseen) {
  const struct {
    const char* name;
    std::chrono::milliseconds before_close;  // the close comes before or after the request
  } cases[] = {{"closed while idle", 0ms}, {"closed as the request arrives", 300ms}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server(KeepAlive(1, c.before_close));
    http.KeepConnection = true;
    http.Get(server.Origin() + "/a");
    if (c.before_close == 0ms) std::this_thread::sleep_for(100ms);  // the close is there first
    http.Get(server.Origin() + "/b");
    EXPECT_EQ(http.ReplyCode, 200);
    EXPECT_EQ(http.Body, "reply 1");  // from the new connection
    EXPECT_EQ(server.Connections(), 2);
  }
  // A reply that does not let the connection stay ends it.
  TestHttpServer closing(Answer(Reply("200 OK", {"Content-Length: 2"}, "ok")));
  http.Get(closing.Origin() + "/a");
  http.Get(closing.Origin() + "/b");
  EXPECT_EQ(closing.Connections(), 2);
  EXPECT_FALSE(http.Connected());
}

TEST_F(HttpTransferTest, EveryAddressOfANameIsTriedInTurn) {
  TestHttpServer server(Answer(Reply("200 OK", {}, "over IPv4")));
  std::vector<std::string> asked;
  // Nothing listens on the first two; the third is the server.
  http.Resolver = [&](const std::string& name) {
    asked.push_back(name);
    std::vector<TNetAddress> addresses;
    for (const char* text : {"::1", "127.0.0.2", "127.0.0.1"}) {
      addresses.push_back(*NumericAddress(text));
    }
    return addresses;
  };
  http.Get("http://dual.test:" + std::to_string(server.Port()) + "/f");
  EXPECT_EQ(http.Body, "over IPv4");
  EXPECT_EQ(asked, std::vector<std::string>{"dual.test"});
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_TRUE(HasLine(server.Requests()[0], "Host: dual.test:" + std::to_string(server.Port())));
  EXPECT_EQ(http.GetRemoteIP(), "127.0.0.1");
}

}  // namespace
}  // namespace pellora
