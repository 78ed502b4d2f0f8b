// The TLS side of the test server, seen by a plain verifying OpenSSL client: the HTTP
// client's TLS tests are only as good as these certificates and connection endings.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "net/test_http_server.h"

namespace pellora {
namespace {

using testing::Reply;
using testing::TestConnection;
using testing::TestHttpServer;
using testing::TestPki;

// A blocking loopback connection whose reads and writes give up after 5 s.
int ConnectLoopback(int port, bool ipv6) {
  const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in6 in6{};
  sockaddr_in in4{};
  in6.sin6_family = AF_INET6;
  in6.sin6_addr = in6addr_loopback;
  in6.sin6_port = htons(static_cast<uint16_t>(port));
  in4.sin_family = AF_INET;
  in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  in4.sin_port = htons(static_cast<uint16_t>(port));
  const int result = ipv6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&in6), sizeof in6)
                          : ::connect(fd, reinterpret_cast<sockaddr*>(&in4), sizeof in4);
  EXPECT_EQ(result, 0) << "connect to port " << port;
  return fd;
}

// Verifies the server against `ca_file` for `host` (a name or an address), as any
// careful client does, over an already connected socket.
class TlsClient {
 public:
  TlsClient(int fd, const std::string& ca_file, const std::string& host,
            SSL_SESSION* session = nullptr)
      : fd_(fd), context_(SSL_CTX_new(TLS_client_method())) {
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    EXPECT_EQ(SSL_CTX_load_verify_locations(context_, ca_file.c_str(), nullptr), 1);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, fd_);
    in6_addr address6;
    in_addr address4;
    if (::inet_pton(AF_INET, host.c_str(), &address4) == 1 ||
        ::inet_pton(AF_INET6, host.c_str(), &address6) == 1) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
    } else {
      SSL_set1_host(ssl_, host.c_str());
      SSL_set_tlsext_host_name(ssl_, host.c_str());
    }
    if (session != nullptr) SSL_set_session(ssl_, session);
    connected_ = SSL_connect(ssl_) == 1;
  }
  ~TlsClient() {
    // OpenSSL drops the session of a connection freed without a shutdown; a quiet one
    // keeps it resumable without writing to a socket the server may have closed.
    SSL_set_quiet_shutdown(ssl_, 1);
    SSL_shutdown(ssl_);
    SSL_free(ssl_);
    SSL_CTX_free(context_);
    ::close(fd_);
  }

  bool Connected() const { return connected_; }
  long VerifyResult() const { return SSL_get_verify_result(ssl_); }
  bool Resumed() const { return SSL_session_reused(ssl_) == 1; }
  SSL_SESSION* Session() const { return SSL_get1_session(ssl_); }

  // Sends the request and reads until the stream ends; `end` gets the SSL_get_error
  // code of that end (SSL_ERROR_ZERO_RETURN after a close_notify).
  std::string Fetch(const std::string& request, int* end = nullptr) {
    size_t written = 0;
    EXPECT_EQ(SSL_write_ex(ssl_, request.data(), request.size(), &written), 1);
    std::string received;
    char chunk[4096];
    size_t n = 0;
    while (SSL_read_ex(ssl_, chunk, sizeof chunk, &n) == 1) received.append(chunk, n);
    if (end != nullptr) *end = SSL_get_error(ssl_, 0);
    return received;
  }

 private:
  int fd_;
  SSL_CTX* context_;
  SSL* ssl_ = nullptr;
  bool connected_ = false;
};

// A connection to `proxy` that it has tunnelled to `port` with CONNECT.
int OpenTunnel(int proxy, int port) {
  const int fd = ConnectLoopback(proxy, false);
  const std::string connect = "CONNECT localhost:" + std::to_string(port) + " HTTP/1.0\r\n\r\n";
  EXPECT_EQ(::send(fd, connect.data(), connect.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(connect.size()));
  const std::string established = "HTTP/1.0 200 Connection established\r\n\r\n";
  std::string answer(established.size(), '\0');
  EXPECT_EQ(::recv(fd, answer.data(), answer.size(), MSG_WAITALL),
            static_cast<ssize_t>(answer.size()));
  EXPECT_EQ(answer, established);
  return fd;
}

const std::string kReply = Reply("200 OK", {}, "over TLS");

void AnswerThenClose(TestConnection& connection) {
  connection.ReadRequest();
  connection.Send(kReply);
}

TEST(TlsTestServer, CertificatesPassOrFailVerificationAsTheirKindSays) {
  TestPki pki;
  const struct {
    const char* name;
    TestPki::Kind kind;
    std::string host;
    bool ipv6;
    long verify;
  } cases[] = {
      {"good, by name", TestPki::Kind::Good, "localhost", false, X509_V_OK},
      {"good, by IPv4 address", TestPki::Kind::Good, "127.0.0.1", false, X509_V_OK},
      {"good, by IPv6 address", TestPki::Kind::Good, "::1", true, X509_V_OK},
      {"expired", TestPki::Kind::Expired, "localhost", false, X509_V_ERR_CERT_HAS_EXPIRED},
      {"wrong name", TestPki::Kind::WrongName, "localhost", false, X509_V_ERR_HOSTNAME_MISMATCH},
      {"wrong name, by address", TestPki::Kind::WrongName, "127.0.0.1", false,
       X509_V_ERR_IP_ADDRESS_MISMATCH},
      {"unknown issuer", TestPki::Kind::UnknownIssuer, "localhost", false,
       X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.ipv6 && !TestHttpServer::Ipv6LoopbackAvailable()) continue;
    TestHttpServer server(AnswerThenClose, {.Tls = &pki.Server(c.kind), .Ipv6 = c.ipv6});
    TlsClient client(ConnectLoopback(server.Port(), c.ipv6), pki.CaFile(), c.host);
    EXPECT_EQ(client.VerifyResult(), c.verify)
        << X509_verify_cert_error_string(client.VerifyResult());
    ASSERT_EQ(client.Connected(), c.verify == X509_V_OK);
    if (client.Connected()) {
      EXPECT_EQ(client.Fetch("GET / HTTP/1.0\r\n\r\n"), kReply);
      EXPECT_EQ(server.Requests(), std::vector<std::string>{"GET / HTTP/1.0\r\n\r\n"});
    }
    // Waits for the server's side of a failed handshake to end.
    EXPECT_EQ(server.HandshakeFailures(), client.Connected() ? 0 : 1);
    EXPECT_EQ(server.Connections(), 1);
    if (!client.Connected()) {
      EXPECT_TRUE(server.Requests().empty()) << "the handler saw a rejected connection";
    }
  }
}

TEST(TlsTestServer, CountsAResumedSession) {
  TestPki pki;
  TestHttpServer server(AnswerThenClose, {.Tls = &pki.Server(TestPki::Kind::Good)});
  std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)> session(nullptr, SSL_SESSION_free);
  {
    TlsClient first(ConnectLoopback(server.Port(), false), pki.CaFile(), "localhost");
    ASSERT_TRUE(first.Connected());
    first.Fetch("GET /1 HTTP/1.0\r\n\r\n");  // a TLS 1.3 ticket comes after the handshake
    session.reset(first.Session());
  }
  EXPECT_EQ(server.ResumedHandshakes(), 0);
  TlsClient second(ConnectLoopback(server.Port(), false), pki.CaFile(), "localhost", session.get());
  ASSERT_TRUE(second.Connected());
  EXPECT_TRUE(second.Resumed());
  EXPECT_EQ(server.ResumedHandshakes(), 1);
}

TEST(TlsTestServer, CloseEndsTheStreamCleanlyAndCutTruncatesIt) {
  TestPki pki;
  TestHttpServer proxy(testing::ForwardAsProxy);
  const struct {
    const char* name;
    void (TestConnection::*end)();
    bool tunnel;
    int client_sees;
  } cases[] = {
      {"close", &TestConnection::Close, false, SSL_ERROR_ZERO_RETURN},
      {"cut", &TestConnection::Cut, false, SSL_ERROR_SSL},
      {"close through a CONNECT tunnel", &TestConnection::Close, true, SSL_ERROR_ZERO_RETURN},
      {"cut through a CONNECT tunnel", &TestConnection::Cut, true, SSL_ERROR_SSL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server(
        [&c](TestConnection& connection) {
          connection.ReadRequest();
          connection.Send(kReply);
          (connection.*c.end)();
        },
        {.Tls = &pki.Server(TestPki::Kind::Good)});
    const int fd =
        c.tunnel ? OpenTunnel(proxy.Port(), server.Port()) : ConnectLoopback(server.Port(), false);
    TlsClient client(fd, pki.CaFile(), "localhost");
    ASSERT_TRUE(client.Connected());
    int end = 0;
    EXPECT_EQ(client.Fetch("GET / HTTP/1.0\r\n\r\n", &end), kReply);
    EXPECT_EQ(end, c.client_sees);
  }
  EXPECT_EQ(proxy.Requests().size(), 2u);
}

}  // namespace
}  // namespace pellora
