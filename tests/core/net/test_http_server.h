#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/test_pki.h"

// OpenSSL's connection and context types, named here so that users of the server need not
// include OpenSSL.
struct ssl_st;
struct ssl_ctx_st;

namespace pellora::testing {

// One accepted connection of the test server, with blocking helpers that all give up
// after a few seconds so that no test can hang on them. Plain TCP or TLS alike.
class TestConnection {
 public:
  explicit TestConnection(int fd, std::function<void(const std::string&)> record);
  // Over TLS: takes over `ssl`, whose handshake on the non-blocking `fd` has completed.
  TestConnection(int fd, ssl_st* ssl, std::function<void(const std::string&)> record);
  ~TestConnection();
  TestConnection(const TestConnection&) = delete;
  TestConnection& operator=(const TestConnection&) = delete;

  // Reads up to and including the empty line that ends a request header (or what came
  // before the client closed) and records it.
  std::string ReadRequest();
  // Reads exactly `count` bytes (fewer when the client closes first).
  std::string ReadBytes(size_t count);
  // Reads what arrives within `limit`, bytes already buffered first; empty when nothing
  // came in time or the client has closed (PeerClosed() tells which).
  std::string ReadSome(std::chrono::milliseconds limit);
  void Send(std::string_view data);
  void Pause(std::chrono::milliseconds time);
  // Waits until the client closes its side, at most `limit`.
  void WaitForClose(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Ends the connection; over TLS a close_notify alert goes first.
  void Close();
  // Drops the connection as a broken link does: the socket is closed without a
  // close_notify alert, so a TLS client sees a truncated stream. Close() when plain.
  void Cut();

  bool PeerClosed() const { return peer_closed_; }
  bool Tls() const { return ssl_ != nullptr; }
  // The host name the client asked for in its TLS handshake (SNI); empty when it sent
  // none or the connection is plain.
  std::string ServerName() const;
  int Fd() const { return fd_; }

 private:
  // One read of at most `size` bytes waiting at most `ms`: the count read, 0 when the
  // client has closed (or the connection broke), -1 when nothing came in time.
  long ReadChunk(char* buffer, size_t size, int ms);
  void Release();

  int fd_;
  ssl_st* ssl_ = nullptr;
  bool peer_closed_ = false;
  bool broken_ = false;  // TLS only: the stream failed, so no close_notify can follow
  std::string pending_;
  std::function<void(const std::string&)> record_;
};

struct TestServerOptions {
  // Serve TLS (1.2 or newer) with this certificate, read in the constructor only.
  const TestCertificate* Tls = nullptr;
  // Listen on ::1 instead of 127.0.0.1.
  bool Ipv6 = false;
  // Serve each connection on a thread of its own, so that a slow answer does not
  // hold up the others (the handler must then be safe to run concurrently).
  bool Concurrent = false;
};

// A scriptable HTTP server on 127.0.0.1 (or ::1) and a free port, serving one
// connection at a time on its own thread; the handler scripts what each connection
// gets. With TLS the thread completes the handshake (giving up after a few seconds)
// before the handler sees the connection; a failed handshake never reaches the handler.
class TestHttpServer {
 public:
  using Handler = std::function<void(TestConnection&)>;
  explicit TestHttpServer(Handler handler);
  TestHttpServer(Handler handler, TestServerOptions options);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:P", "https://127.0.0.1:P", "http://[::1]:P", ...
  std::string Origin() const;
  // The same with another host text, e.g. "localhost"; a bare IPv6 address is bracketed.
  std::string OriginFor(const std::string& host) const;
  std::vector<std::string> Requests() const;
  // Every accepted connection, including those whose TLS handshake failed.
  int Connections() const { return connections_.load(); }
  // TLS handshakes that failed or timed out, and those that resumed an earlier session.
  // Both first wait (a few seconds at most) for a handshake in progress to end, so a
  // client that has just given up is already counted.
  int HandshakeFailures() const;
  int ResumedHandshakes() const;

  // False where ::1 cannot be bound (IPv6 switched off).
  static bool Ipv6LoopbackAvailable();

 private:
  void Serve();
  bool Handshake(ssl_st* ssl, int fd) const;
  void AwaitHandshake() const;

  Handler handler_;
  bool ipv6_ = false;
  bool concurrent_ = false;
  std::vector<std::thread> connection_threads_;
  ssl_ctx_st* tls_ = nullptr;  // one context for all connections: it keeps the sessions
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<bool> handshaking_{false};
  std::atomic<int> handshake_failures_{0};
  std::atomic<int> resumed_handshakes_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// "HTTP/1.0 <status>\r\n" + headers (each given without CR LF) + "\r\n" + body.
std::string Reply(std::string_view status, const std::vector<std::string>& headers,
                  std::string_view body);

// Acts as an HTTP proxy on loopback targets (127.0.0.1, localhost taken as 127.0.0.1,
// [::1]):
// - a request with an absolute "http://" URL goes verbatim to the host:port of that URL
//   and the whole reply comes back, after which the connection closes;
// - "CONNECT host:port" opens a tunnel: "200 Connection established", then bytes are
//   relayed both ways until either side closes (10 s at most).
// Any other target, or one that refuses the connection, gets "502 Bad Gateway".
void ForwardAsProxy(TestConnection& connection);
// The same, but like a proxy that honours "Proxy-Connection: Keep-Alive" it keeps the
// client's connection open after a relayed reply until the client closes it (10 s at
// most); anything sent meanwhile is read and dropped.
void ForwardAsKeepAliveProxy(TestConnection& connection);

// A port on 127.0.0.1 where nothing listens.
int UnusedPort();

}  // namespace pellora::testing

namespace pellora::testing {

// A fresh folder under the user's temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Descriptors open in this process, for leak checks.
int OpenDescriptorCount();

// Reads a whole file as bytes.
std::string ReadFileBytes(const std::string& path);

}  // namespace pellora::testing
