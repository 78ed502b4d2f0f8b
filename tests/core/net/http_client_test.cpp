#include "core/net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "core/net/host_lookup.h"
#include "core/sequence/int_conversion.h"
#include "net/http_test_routes.h"
#include "net/test_http_server.h"

namespace pellora {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::FirstLine;
using testing::HasLine;
using testing::Reply;
using testing::Route;
using testing::TestConnection;
using testing::TestHttpServer;
using Clock = std::chrono::steady_clock;

class HttpClientTest : public ::testing::Test {
 protected:
  HttpClientTest() {
    http.TimeOut = 5000;
    http.HeaderInfo.LocalMailAddress = "Pellora";
  }
  THttpClient http;
  testing::TempDir dir;
};

// ------------------------------------------------------------------ the request

TEST_F(HttpClientTest, RequestBytesWithAllHeaderValues) {
  TestHttpServer server(Answer(Reply("200 OK", {}, "ok")));
  http.HeaderInfo = {"Agent/1", "me@example.org", "sid=7", "http://ref/", "user", "pass"};
  http.Get(server.Origin() + "/dir/f001.jpg");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /dir/f001.jpg HTTP/1.0\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
            "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
            "User-Agent: Agent/1\r\n"
            "From: me@example.org\r\n"
            "Cookie: sid=7\r\n"
            "Referer: http://ref/\r\n"
            "Authorization: Basic dXNlcjpwYXNz\r\n"
            "Content-type: application/x-www-form-urlencoded\r\n"
            "\r\n");
  EXPECT_EQ(http.ReplyCode, 200);
  EXPECT_EQ(http.Body, "ok");
}

TEST_F(HttpClientTest, RequestBytesThroughAProxy) {
  TestHttpServer proxy(Answer(Reply("200 OK", {}, "via proxy")));
  http.Proxy = "127.0.0.1";
  http.ProxyPort = static_cast<uint32_t>(proxy.Port());
  http.Port = 0;
  http.HeaderInfo.UserId = "";  // no credentials: no Authorization line
  http.HeaderInfo.Password = "secret";
  http.Get("http://H");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0],
            "GET http://H/ HTTP/1.0\r\n"
            "Proxy-Connection: Keep-Alive\r\n"
            "Host: H\r\n"
            "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
            "User-Agent: Pellora\r\n"
            "Content-type: application/x-www-form-urlencoded\r\n"
            "\r\n");
  EXPECT_EQ(http.CurrentUrl(), "http://H/");
  EXPECT_EQ(http.Body, "via proxy");
}

TEST_F(HttpClientTest, ParseURL) {
  const std::string long_path = "/" + std::string(300, 'p') + ".jpg";
  const struct {
    std::string url;
    std::string host;
    uint32_t port;
    std::string path;
    std::string current;
  } cases[] = {
      // Each row starts from the Host and Port the row before left behind.
      {"http://H", "H", 80, "/", "http://H/"},
      {"http://H:8080/a.jpg", "H", 8080, "/a.jpg", "http://H:8080/a.jpg"},
      {"/x", "H", 8080, "/x", "/x"},
      {"http://H/b.jpg", "H", 80, "/b.jpg", "http://H/b.jpg"},
      {"HTTP://h2/x?y=1", "h2", 80, "/x?y=1", "HTTP://h2/x?y=1"},
      {"gopher://g/x", "g", 70, "/x", "gopher://g/x"},
      {"ftp://f", "f", 21, "/", "ftp://f/"},
      {"host3:81/a/b", "host3", 81, "/a/b", "host3:81/a/b"},
      {"https://s/x", "s", 443, "/x", "https://s/x"},
      {"https://s:8443", "s", 8443, "/", "https://s:8443/"},
      {"http://[::1]:8080/v6", "::1", 8080, "/v6", "http://[::1]:8080/v6"},
      {"http://[2001:db8::2]/v6", "2001:db8::2", 80, "/v6", "http://[2001:db8::2]/v6"},
      {"http://H" + long_path, "H", 80, long_path, "http://H" + long_path},
  };
  for (const auto& c : cases) {
    http.SetCurrentUrl(c.url);
    http.ParseURL();
    EXPECT_EQ(http.Host, c.host) << c.url;
    EXPECT_EQ(http.Port, c.port) << c.url;
    EXPECT_EQ(http.RequestPath(), c.path) << c.url;
    EXPECT_EQ(http.CurrentUrl(), c.current) << c.url;
  }
  http.SetCurrentUrl("");
  EXPECT_THROW(http.ParseURL(), std::runtime_error);
  const std::pair<std::string, std::string> errors[] = {
      {"", "Empty URL"},
  };
  for (const auto& [url, message] : errors) {
    try {
      http.Get(url);
      ADD_FAILURE() << url;
    } catch (const ESockError&) {
      ADD_FAILURE() << "not a socket error: " << url;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), message);
    }
  }
  for (const char* url :
       {"http://H:abc/", "http://H:70000/", "http://H:/", "http://[::1/", "http://[::1]x/"}) {
    http.SetCurrentUrl(url);
    EXPECT_THROW(http.ParseURL(), EConvertError) << url;
  }
}

// ------------------------------------------------------------------ the reply

TEST_F(HttpClientTest, StatusHeaderAndBodyOfReplies) {
  const struct {
    const char* name;
    std::string reply;
    int code;
    std::string header;
    std::string body;
    int successes, failures;
  } cases[] = {
      {"ok", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200,
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", "hello", 1, 0},
      {"1.1 not found", "HTTP/1.1 404 Not Found\r\n\r\n<p>missing</p>", 404,
       "HTTP/1.1 404 Not Found\r\n\r\n", "<p>missing</p>", 0, 1},
      {"no reason, LF only", "HTTP/1.0 206\nX: y\n\npart", 206, "HTTP/1.0 206\nX: y\n\n", "part", 1,
       0},
      {"no status code", "HTTP/1.0\r\n\r\nx", 0, "HTTP/1.0\r\n\r\n", "x", 1, 0},
      {"data without header", "just data\nmore\n\nrest", 0, "just data\nmore\n\n", "rest", 1, 0},
      {"server error", "HTTP/1.0 500 Oops\r\n\r\n", 500, "HTTP/1.0 500 Oops\r\n\r\n", "", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server(Answer(c.reply));
    int successes = 0, failures = 0;
    http.OnSuccess = [&](CmdType) { ++successes; };
    http.OnFailure = [&](CmdType) { ++failures; };
    http.Get(server.Origin() + "/f");
    EXPECT_EQ(http.ReplyCode, c.code);
    EXPECT_EQ(http.Header, c.header);
    EXPECT_EQ(http.Body, c.body);
    EXPECT_EQ(successes, c.successes);
    EXPECT_EQ(failures, c.failures);
    EXPECT_FALSE(http.Connected());
  }
  EXPECT_EQ(http.ExpectedLength, 0);  // emptied for every reply
}

TEST_F(HttpClientTest, BinaryBodyToFileIsByteExact) {
  std::mt19937 random(42);
  std::string body(6 * 1024 * 1024 + 3, '\0');
  for (char& c : body) c = static_cast<char>(random() & 0xff);
  body.replace(0, 8, "\r\n\r\n\0\n\r\0", 8);  // line ends and zeros right at the start
  TestHttpServer server(
      Answer(Reply("200 OK", {"Content-Length: " + std::to_string(body.size())}, body)));
  http.InputFileMode = true;
  http.OutputFileMode = true;
  http.Body = dir.Path("body.bin");
  http.Header = dir.Path("head.txt");
  int packets = 0;
  http.OnPacketRecvd = [&](TStreamSocket&) { ++packets; };
  http.Get(server.Origin() + "/big.bin");
  EXPECT_EQ(http.ReplyCode, 200);
  EXPECT_EQ(http.ExpectedLength, static_cast<int64_t>(body.size()));
  EXPECT_EQ(http.ReceivedCount, static_cast<int64_t>(body.size()));
  EXPECT_GT(packets, 1);
  EXPECT_TRUE(testing::ReadFileBytes(http.Body) == body);
  EXPECT_EQ(testing::ReadFileBytes(http.Header),
            "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
}

// ------------------------------------------------------------------ redirects

TEST_F(HttpClientTest, RedirectToAnotherHostCarriesNeitherTheCookieNorTheCredentials) {
  TestHttpServer second(Answer(Reply("200 OK", {"X-Second: yes"}, "second body")));
  const std::string target = "http://localhost:" + std::to_string(second.Port()) + "/x";
  TestHttpServer first(
      Answer(Reply("302 Found", {"Set-Cookie: sid=42; path=/", "Location: " + target}, "moved")));
  http.HeaderInfo.UserId = "user";
  http.HeaderInfo.Password = "pass";
  int redirects = 0;
  http.OnRedirect = [&](bool&) { ++redirects; };
  http.Get(first.Origin() + "/start");

  EXPECT_EQ(http.ReplyCode, 200);
  EXPECT_EQ(http.Body, "second body");
  EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\nX-Second: yes\r\n\r\n");
  EXPECT_EQ(http.HeaderInfo.Cookie, "sid=42; path=/");
  EXPECT_EQ(http.CurrentUrl(), target);
  EXPECT_EQ(redirects, 1);
  ASSERT_EQ(first.Requests().size(), 1u);
  ASSERT_EQ(second.Requests().size(), 1u);
  EXPECT_TRUE(HasLine(first.Requests()[0], "Authorization: Basic dXNlcjpwYXNz"));
  EXPECT_FALSE(HasLine(first.Requests()[0], "Cookie: sid=42; path=/"));
  EXPECT_EQ(FirstLine(second.Requests()[0]), "GET /x HTTP/1.0");
  EXPECT_TRUE(HasLine(second.Requests()[0], "Host: localhost:" + std::to_string(second.Port())));
  EXPECT_EQ(second.Requests()[0].find("Cookie"), std::string::npos);
  EXPECT_EQ(second.Requests()[0].find("Authorization"), std::string::npos);

  // The cookie stays for later requests to the host that set it; credentials are back
  // for the host they were given for.
  http.Get(first.Origin() + "/again");
  EXPECT_TRUE(HasLine(first.Requests()[1], "Cookie: sid=42; path=/"));
  EXPECT_TRUE(HasLine(first.Requests()[1], "Authorization: Basic dXNlcjpwYXNz"));
  http.Get(target);
  EXPECT_EQ(second.Requests()[1].find("Cookie"), std::string::npos);
}

TEST_F(HttpClientTest, RelativeRedirectsKeepHostAndPort) {
  TestHttpServer server(Route({{"/start", Reply("301 Moved", {"Location: /dir/x"}, "")},
                               {"/dir/x", Reply("302 Found", {"Location: y"}, "")},
                               {"/y", Reply("200 OK", {}, "arrived")}}));
  http.HeaderInfo.UserId = "user";
  http.HeaderInfo.Password = "pass";
  http.Get(server.Origin() + "/start");
  EXPECT_EQ(http.ReplyCode, 200);
  EXPECT_EQ(http.Body, "arrived");
  EXPECT_EQ(http.CurrentUrl(), server.Origin() + "/y");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(FirstLine(requests[1]), "GET /dir/x HTTP/1.0");
  EXPECT_EQ(FirstLine(requests[2]), "GET /y HTTP/1.0");
  for (const auto& request : requests) {
    EXPECT_TRUE(HasLine(request, "Authorization: Basic dXNlcjpwYXNz")) << request;
  }
}

TEST_F(HttpClientTest, RedirectsThatEndTheExchange) {
  const struct {
    const char* name;
    std::string reply;
    int code;
    size_t requests;
  } cases[] = {
      {"endless loop", Reply("302 Found", {"Location: /loop"}, ""), 302,
       THttpClient::kMaxRedirects + 1},
      {"303", Reply("303 See Other", {"Location: /other"}, ""), 303, 1},
      {"299", Reply("299 Odd", {"Location: /other"}, ""), 299, 1},
      {"304", Reply("304 Not Modified", {}, ""), 304, 1},
      {"302 without Location", Reply("302 Found", {}, ""), 302, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server(Answer(c.reply));
    http.Get(server.Origin() + "/loop");
    EXPECT_EQ(http.ReplyCode, c.code);
    EXPECT_EQ(server.Requests().size(), c.requests);
  }
}

TEST_F(HttpClientTest, ThroughAForwardingProxyIncludingARelativeRedirect) {
  TestHttpServer origin(Route({{"/a.jpg", Reply("302 Found", {"Location: /b.jpg"}, "")},
                               {"/b.jpg", Reply("200 OK", {}, "image b")}}));
  TestHttpServer proxy(testing::ForwardAsProxy);
  http.Proxy = "127.0.0.1";
  http.ProxyPort = static_cast<uint32_t>(proxy.Port());
  http.Get(origin.Origin() + "/a.jpg");
  EXPECT_EQ(http.ReplyCode, 200);
  EXPECT_EQ(http.Body, "image b");
  const auto requests = origin.Requests();
  ASSERT_EQ(requests.size(), 2u);
  // The proxy always receives the full URL, also after a redirect to "/b.jpg".
  EXPECT_EQ(FirstLine(requests[0]), "GET " + origin.Origin() + "/a.jpg HTTP/1.0");
  EXPECT_EQ(FirstLine(requests[1]), "GET " + origin.Origin() + "/b.jpg HTTP/1.0");
  EXPECT_TRUE(HasLine(requests[1], "Proxy-Connection: Keep-Alive"));
}

// ------------------------------------------------------------------ unsafe input

TEST_F(HttpClientTest, LineBreaksAndZerosNeverReachTheWire) {
  TestHttpServer server(Answer(Reply("200 OK", {}, "ok")));
  const std::string origin = server.Origin();
  const struct {
    const char* name;
    std::function<void(THttpClient&)> setup;
    std::string url;
  } cases[] = {
      {"URL", [](THttpClient&) {}, origin + "/a\r\nX-Injected: 1"},
      {"URL with LF only", [](THttpClient&) {}, origin + "/a\nb"},
      {"referer", [](THttpClient& h) { h.HeaderInfo.Referer = "http://r/\r\nX: 1"; },
       origin + "/a"},
      {"cookie with zero", [](THttpClient& h) { h.HeaderInfo.Cookie = std::string("a\0b", 3); },
       origin + "/a"},
      {"agent", [](THttpClient& h) { h.HeaderInfo.LocalMailAddress = "x\ry"; }, origin + "/a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    THttpClient client;
    client.TimeOut = 5000;
    c.setup(client);
    EXPECT_THROW(client.Get(c.url), ESockError);
  }
  EXPECT_EQ(server.Connections(), 0);

  try {
    http.Get(origin + "/a\r\nX: 1");
  } catch (const ESockError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Request not sent: the URL contains a line break or zero byte (CR, LF or NUL)");
  }
}

TEST_F(HttpClientTest, InjectedLocationIsRefusedBeforeTheSecondRequest) {
  TestHttpServer server([](TestConnection& connection) {
    connection.ReadRequest();
    connection.Send("HTTP/1.0 302 Found\r\nLocation: /next\rX-Injected: 1\r\n\r\n");
  });
  EXPECT_THROW(http.Get(server.Origin() + "/a"), ESockError);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(HttpClientTest, OverlongHeaderLineEndsTheExchange) {
  TestHttpServer server(
      Answer("HTTP/1.0 200 OK\r\nX-Long: " + std::string(70000, 'v') + "\r\n\r\nbody"));
  try {
    http.Get(server.Origin() + "/a");
    ADD_FAILURE() << "no error";
  } catch (const ESockError& error) {
    EXPECT_EQ(std::string(error.what()), "Line longer than 65536 bytes received");
  }
  EXPECT_FALSE(http.Connected());
  // A long but legal Location is followed whole, not cut.
  const std::string long_path = "/" + std::string(600, 'q');
  TestHttpServer redirecting(Route({{"/start", Reply("302 Found", {"Location: " + long_path}, "")},
                                    {long_path, Reply("200 OK", {}, "found")}}));
  http.Get(redirecting.Origin() + "/start");
  EXPECT_EQ(http.Body, "found");
  EXPECT_EQ(FirstLine(redirecting.Requests()[1]), "GET " + long_path + " HTTP/1.0");
}

// ------------------------------------------------------------------ failures and time-outs

TEST_F(HttpClientTest, ConnectionFailures) {
  http.Port = 0;
  const std::pair<std::string, std::string> cases[] = {
      {"http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/a",
       "10061:Connection refused"},
      {"http://pellora-no-such-host.invalid/a", "Null Remote Address"},
  };
  for (const auto& [url, message] : cases) {
    try {
      http.Get(url);
      ADD_FAILURE() << url;
    } catch (const ESockError& error) {
      EXPECT_EQ(std::string(error.what()), message) << url;
    }
    EXPECT_FALSE(http.Connected());
  }
}

TEST_F(HttpClientTest, SilentServerTimesOut) {
  const struct {
    const char* name;
    std::string sent_first;
    bool to_file;
    const char* message;
  } cases[] = {
      {"header", "", true, "Socket readln aborted"},
      {"body to file", "HTTP/1.0 200 OK\r\n\r\nstart", true, "Socket send aborted"},
      {"body to string", "HTTP/1.0 200 OK\r\n\r\nstart", false, "Socket capture aborted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server([&](TestConnection& connection) {
      connection.ReadRequest();
      connection.Send(c.sent_first);
      connection.WaitForClose();
    });
    http.TimeOut = 300;
    http.InputFileMode = c.to_file;
    http.Body = c.to_file ? dir.Path("body") : "";
    const auto start = Clock::now();
    try {
      http.Get(server.Origin() + "/a");
      ADD_FAILURE() << "no time-out";
    } catch (const EAbortError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_FALSE(http.Connected());
  }
}

TEST_F(HttpClientTest, AbortFromThePumpEndsGetAndTheNextGetWorks) {
  std::atomic<bool> stall{true};
  TestHttpServer server([&](TestConnection& connection) {
    connection.ReadRequest();
    if (stall) {
      connection.WaitForClose();
      return;
    }
    connection.Send(Reply("200 OK", {}, "fine"));
  });
  http.TimeOut = 0;  // only the abort can end the wait
  const auto start = Clock::now();
  http.OnPump = [&] {
    if (Clock::now() - start > 500ms) http.Abort();
  };
  EXPECT_THROW(http.Get(server.Origin() + "/a"), EAbortError);
  EXPECT_FALSE(http.Connected());
  http.OnPump = nullptr;
  stall = false;
  http.Get(server.Origin() + "/a");
  EXPECT_EQ(http.ReplyCode, 200);
  EXPECT_EQ(http.Body, "fine");
}

TEST_F(HttpClientTest, NoDescriptorsLeftAfterFailingExchanges) {
  const int before = testing::OpenDescriptorCount();
  {
    TestHttpServer server(Route({{"/ok", Reply("200 OK", {}, "ok")},
                                 {"/long", "HTTP/1.0 200 OK\r\nX: " + std::string(70000, 'v')}}));
    THttpClient client;
    client.TimeOut = 2000;
    client.InputFileMode = true;
    client.Body = dir.Path("body");
    client.Get(server.Origin() + "/ok");
    EXPECT_THROW(client.Get(server.Origin() + "/long"), ESockError);
    EXPECT_THROW(client.Get(server.Origin() + "/bad\r\n"), ESockError);
    EXPECT_THROW(client.Get("http://localhost:" + std::to_string(testing::UnusedPort()) + "/"),
                 ESockError);
    client.Body = dir.Path("missing-folder/body");
    EXPECT_THROW(client.Get(server.Origin() + "/ok"), EFileError);
  }
  for (int i = 0; i < 500 && THostLookup::Running() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(testing::OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace pellora
