// https:// through the one HTTP client: verification, resumption, tunnels, redirects
// between the schemes, and the failures of a connection over TLS. Also IPv6.
#include <gtest/gtest.h>

#include <chrono>

#include "core/net/http_client.h"
#include "core/net/tls_channel.h"
#include "net/expect_error.h"
#include "net/http_test_routes.h"
#include "net/test_http_server.h"
#include "net/test_pki.h"

namespace pellora {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::FirstLine;
using testing::HasLine;
using testing::Reply;
using testing::TestCertificate;
using testing::TestConnection;
using testing::TestHttpServer;
using testing::TestPki;
using testing::TestServerOptions;
using Clock = std::chrono::steady_clock;

// One PKI for all tests: making keys is the slow part.
const TestPki& Pki() {
  static const TestPki pki;
  return pki;
}

TestServerOptions Tls(TestPki::Kind kind = TestPki::Kind::Good) {
  static std::map<TestPki::Kind, TestCertificate> certificates;
  auto found = certificates.find(kind);
  if (found == certificates.end()) found = certificates.emplace(kind, Pki().Server(kind)).first;
  TestServerOptions options;
  options.Tls = &found->second;
  return options;
}

std::string WithoutHostLine(const std::string& request) {
  const size_t at = request.find("\r\nHost: ");
  return request.substr(0, at) + request.substr(request.find("\r\n", at + 2));
}

class TlsTest : public ::testing::Test {
 protected:
  TlsTest() {
    http.TimeOut = 5000;
    http.TlsCaFile = Pki().CaFile();
    http.HeaderInfo = {"Pellora", "me@example.org", "", "http://ref/", "user", "pass"};
  }
  THttpClient http;
  testing::TempDir dir;
};

TEST_F(TlsTest, AGoodChainGivesTheSameRequestAsPlainHttp) {
  std::vector<std::string> server_names;  // as the client sent them (SNI)
  TestHttpServer secure(
      [&](TestConnection& connection) {
        connection.ReadRequest();
        server_names.push_back(connection.ServerName());
        connection.Send(Reply("200 OK", {"Content-Length: 6"}, "secret"));
      },
      Tls());
  TestHttpServer plain(Answer(Reply("200 OK", {"Content-Length: 5"}, "plain")));
  http.Get(secure.Origin() + "/dir/f001.jpg");
  EXPECT_EQ(http.ReplyCode, 200);
  EXPECT_EQ(http.Body, "secret");
  http.Get(secure.OriginFor("localhost") + "/dir/f001.jpg");  // by name: SNI and the name
  EXPECT_EQ(http.Body, "secret");
  http.Get(plain.Origin() + "/dir/f001.jpg");
  ASSERT_EQ(secure.Requests().size(), 2u);
  EXPECT_TRUE(HasLine(secure.Requests()[0], "Host: 127.0.0.1:" + std::to_string(secure.Port())));
  EXPECT_TRUE(HasLine(secure.Requests()[1], "Host: localhost:" + std::to_string(secure.Port())));
  EXPECT_EQ(WithoutHostLine(secure.Requests()[0]), WithoutHostLine(plain.Requests()[0]));
  // A name goes out as SNI; an address never does.
  EXPECT_EQ(server_names, (std::vector<std::string>{"", "localhost"}));
}

TEST_F(TlsTest, CertificatesThatFailVerificationStopBeforeTheRequest) {
  const struct {
    const char* name;
    TestPki::Kind kind;
    bool extra_ca;
    TCertProblem problem;
  } cases[] = {
      {"expired", TestPki::Kind::Expired, true, TCertProblem::Expired},
      {"wrong name", TestPki::Kind::WrongName, true, TCertProblem::WrongName},
      {"unknown issuer", TestPki::Kind::UnknownIssuer, true, TCertProblem::UnknownIssuer},
      {"good chain, CA not trusted", TestPki::Kind::Good, false, TCertProblem::UnknownIssuer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server(Answer(Reply("200 OK", {}, "never")), Tls(c.kind));
    http.TlsCaFile = c.extra_ca ? Pki().CaFile() : "";
    http.InputFileMode = true;
    http.Body = dir.Path("body");
    try {
      http.Get(server.Origin() + "/f");
      ADD_FAILURE() << "accepted";
    } catch (const ECertificateError& error) {
      EXPECT_EQ(error.Host, "127.0.0.1");
      EXPECT_EQ(error.Problem, c.problem) << error.what();
      EXPECT_FALSE(error.Reason.empty());
    }
    EXPECT_FALSE(http.Connected());
    EXPECT_TRUE(server.Requests().empty());
  }
}

TEST_F(TlsTest, AnUnreadableCaFileIsSaidAsSuch) {
  TestHttpServer server(Answer(Reply("200 OK", {}, "never")), Tls());
  http.TlsCaFile = dir.Path("no-such-ca.pem");
  try {
    http.Get(server.Origin() + "/f");
    ADD_FAILURE() << "accepted";
  } catch (const ESockError& error) {
    EXPECT_NE(std::string(error.what()).find(dir.Path("no-such-ca.pem")), std::string::npos)
        << error.what();
  }
}

TEST_F(TlsTest, LaterHandshakesWithTheSameServerAreResumed) {
  TestHttpServer server(Answer(Reply("200 OK", {"Content-Length: 2"}, "ok")), Tls());
  for (int i = 0; i < 4; ++i) http.Get(server.Origin() + "/f" + std::to_string(i));
  EXPECT_EQ(server.Connections(), 4);
  EXPECT_EQ(server.ResumedHandshakes(), 3);
}

TEST_F(TlsTest, RedirectsBetweenTheSchemesCarryCredentialsOnlyToTheirOrigin) {
  TestHttpServer secure(
      testing::Route({{"/s-final", Reply("200 OK", {}, "secure end")},
                      {"/s-local", Reply("302 Found", {"Location: /s-final"}, "")}}),
      Tls());
  TestHttpServer plain(testing::Route({{"/p-final", Reply("200 OK", {}, "plain end")}}));
  TestHttpServer plain_to_secure(
      Answer(Reply("302 Found", {"Location: " + secure.OriginFor("localhost") + "/s-final"}, "")));
  TestHttpServer secure_to_plain(
      Answer(Reply("302 Found", {"Location: " + plain.Origin() + "/p-final"}, "")), Tls());

  http.Get(plain_to_secure.Origin() + "/start");
  EXPECT_EQ(http.Body, "secure end");
  http.Get(secure_to_plain.Origin() + "/start");
  EXPECT_EQ(http.Body, "plain end");
  http.Get(secure.Origin() + "/s-local");  // within one https origin they stay
  EXPECT_EQ(http.Body, "secure end");

  ASSERT_EQ(secure.Requests().size(), 3u);
  ASSERT_EQ(plain.Requests().size(), 1u);
  EXPECT_TRUE(HasLine(plain_to_secure.Requests()[0], "Authorization: Basic dXNlcjpwYXNz"));
  EXPECT_EQ(secure.Requests()[0].find("Authorization"), std::string::npos);
  EXPECT_TRUE(HasLine(secure_to_plain.Requests()[0], "Authorization: Basic dXNlcjpwYXNz"));
  EXPECT_EQ(plain.Requests()[0].find("Authorization"), std::string::npos);
  EXPECT_TRUE(HasLine(secure.Requests()[1], "Authorization: Basic dXNlcjpwYXNz"));
  EXPECT_TRUE(HasLine(secure.Requests()[2], "Authorization: Basic dXNlcjpwYXNz"));
}

TEST_F(TlsTest, ThroughTheProxyATunnelCarriesTheDirectRequest) {
  TestHttpServer secure(Answer(Reply("200 OK", {"Content-Length: 6"}, "tunnel")), Tls());
  TestHttpServer proxy(testing::ForwardAsProxy);
  http.Proxy = "127.0.0.1";
  http.ProxyPort = static_cast<uint32_t>(proxy.Port());
  const std::string target = "localhost:" + std::to_string(secure.Port());
  http.Get("https://" + target + "/f");
  EXPECT_EQ(http.Body, "tunnel");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0], "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n\r\n");
  ASSERT_EQ(secure.Requests().size(), 1u);
  EXPECT_EQ(FirstLine(secure.Requests()[0]), "GET /f HTTP/1.0");
  EXPECT_TRUE(HasLine(secure.Requests()[0], "Host: " + target));
  EXPECT_EQ(secure.Requests()[0].find("Proxy-Connection"), std::string::npos);

  // A proxy that refuses the tunnel is an error naming its answer.
  TestHttpServer refusing(Answer(Reply("403 Forbidden", {}, "no tunnels")));
  http.ProxyPort = static_cast<uint32_t>(refusing.Port());
  testing::ExpectError<ESockError>(
      [&] { http.Get("https://" + target + "/f"); },
      "Proxy refused the tunnel to " + target + ": HTTP/1.0 403 Forbidden");
}

TEST_F(TlsTest, StallsCutsAndAbortsEndTheTransferAsOverPlainHttp) {
  TestHttpServer server(
      [](TestConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.starts_with("GET /stall")) {
          connection.Send("HTTP/1.0 200 OK\r\n");
          connection.WaitForClose();
        } else if (request.starts_with("GET /cut")) {
          connection.Send(Reply("200 OK", {"Content-Length: 100000"}, std::string(1000, 'c')));
          connection.Cut();
        } else {
          connection.Send(Reply("200 OK", {"Content-Length: 2"}, "ok"));
        }
      },
      Tls());
  http.InputFileMode = true;
  http.Body = dir.Path("body");
  http.TimeOut = 300;
  testing::ExpectError<EAbortError>([&] { http.Get(server.Origin() + "/stall"); },
                                    "Socket readln aborted");
  EXPECT_TRUE(http.TimedOut());
  http.TimeOut = 5000;
  testing::ExpectError<ESockError>([&] { http.Get(server.Origin() + "/cut"); },
                                   "Connection closed after 1000 of 100000 bytes of the body");
  const auto start = Clock::now();
  http.TimeOut = 0;
  http.OnPump = [&] {
    if (Clock::now() - start > 300ms) http.Abort();
  };
  EXPECT_THROW(http.Get(server.Origin() + "/stall"), EAbortError);
  EXPECT_FALSE(http.Connected());
  http.OnPump = nullptr;
  http.Get(server.Origin() + "/fine");
  EXPECT_EQ(testing::ReadFileBytes(dir.Path("body")), "ok");
}

TEST_F(TlsTest, APlainServerOnTheHttpsPortIsATlsError) {
  TestHttpServer plain([](TestConnection& connection) {
    connection.ReadSome(std::chrono::seconds(2));
    connection.Send(Reply("400 Bad Request", {}, "plain HTTP here"));
  });
  try {
    http.Get("https://127.0.0.1:" + std::to_string(plain.Port()) + "/f");
    ADD_FAILURE() << "accepted";
  } catch (const ECertificateError& error) {
    ADD_FAILURE() << error.what();
  } catch (const ESockError& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with("TLS handshake failed"))
        << "[" << error.what() << "]";
  }
}

TEST_F(TlsTest, AProxyThatKeepsTheConnectionStillEndsTheBodyAtItsLength) {
  TestHttpServer origin(Answer(Reply("200 OK", {"Content-Length: 7"}, "proxied")));
  TestHttpServer proxy(testing::ForwardAsKeepAliveProxy);
  http.Proxy = "127.0.0.1";
  http.ProxyPort = static_cast<uint32_t>(proxy.Port());
  http.TimeOut = 1000;  // shorter than the proxy keeps the connection
  http.Get(origin.Origin() + "/f");
  EXPECT_EQ(http.Body, "proxied");
}

TEST(Ipv6, PlainAndSecureOverTheIpv6Loopback) {
  if (!TestHttpServer::Ipv6LoopbackAvailable()) GTEST_SKIP() << "this machine has no ::1";
  TestServerOptions plain_options;
  plain_options.Ipv6 = true;
  TestHttpServer plain(Answer(Reply("200 OK", {"Content-Length: 2"}, "v6")), plain_options);
  TestServerOptions secure_options = Tls();
  secure_options.Ipv6 = true;
  TestHttpServer secure(Answer(Reply("200 OK", {"Content-Length: 3"}, "v6s")), secure_options);
  THttpClient http;
  http.TimeOut = 5000;
  http.TlsCaFile = Pki().CaFile();
  http.Get("http://[::1]:" + std::to_string(plain.Port()) + "/f");
  EXPECT_EQ(http.Body, "v6");
  EXPECT_TRUE(HasLine(plain.Requests()[0], "Host: [::1]:" + std::to_string(plain.Port())));
  EXPECT_EQ(http.GetRemoteIP(), "::1");
  http.Get("https://[::1]:" + std::to_string(secure.Port()) + "/f");
  EXPECT_EQ(http.Body, "v6s");
}

}  // namespace
}  // namespace pellora
