#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/net/sock_error.h"

// OpenSSL's types, declared so that users of the socket need none of its headers.
struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

namespace pellora {

// What was wrong with a server certificate, as far as the person needs to know.
enum class TCertProblem { Expired, NotYetValid, WrongName, UnknownIssuer, Revoked, Other };

// A server certificate that failed verification. The message is English; Host and
// Problem let a front-end say it in its own words.
class ECertificateError : public ESockError {
 public:
  ECertificateError(const std::string& host, TCertProblem problem, const std::string& reason);
  std::string Host;
  TCertProblem Problem;
  std::string Reason;  // the verifier's own text, e.g. "certificate has expired"
};

// The TLS settings the connections of a client share: TLS 1.2 or later, verification
// always on against the system's trust store as OpenSSL finds it by default (so
// SSL_CERT_FILE and SSL_CERT_DIR work) plus an optional file of extra trusted CA
// certificates, and the latest session per server, so that the next handshake with
// the same host and port is resumed instead of repeated in full. Thread-safe.
class TTlsContext {
 public:
  // Raises ESockError when the extra CA file cannot be loaded.
  explicit TTlsContext(const std::string& extraCaFile);
  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;

  const std::string& ExtraCaFile() const { return extra_ca_file_; }
  ssl_ctx_st* Native() const { return ctx_; }

  // A new reference to the latest session kept for `server`, or nullptr.
  ssl_session_st* TakeSession(const std::string& server) const;
  // Keeps `session` (taking over the caller's reference) as the one for `server`.
  void KeepSession(const std::string& server, ssl_session_st* session);

 private:
  std::string extra_ca_file_;
  ssl_ctx_st* ctx_ = nullptr;
  mutable std::mutex mutex_;
  std::map<std::string, ssl_session_st*> sessions_;
};

// The TLS layer of one connection over a connected non-blocking socket. Never waits:
// an operation that cannot go on says which poll events it waits for.
class TTlsChannel {
 public:
  // `host` is what the certificate must name (a name, or a numeric address) and what
  // goes out as SNI when it is a name.
  TTlsChannel(std::shared_ptr<TTlsContext> context, int fd, const std::string& host, uint16_t port);
  ~TTlsChannel();  // frees the TLS state; the descriptor stays the caller's
  TTlsChannel(const TTlsChannel&) = delete;
  TTlsChannel& operator=(const TTlsChannel&) = delete;

  // One step of the handshake: 1 done, 0 wait for WantedEvents(), -1 a system error
  // in errno. Raises ECertificateError for a certificate that fails verification and
  // ESockError for any other TLS failure.
  int Handshake();
  // As recv(): bytes read, 0 when the peer closed, -1 with errno (EAGAIN: wait for
  // WantedEvents()). Raises ESockError for a TLS failure.
  ssize_t Read(char* data, size_t size);
  // As send(), with the same results as Read.
  ssize_t Write(const char* data, size_t size);
  // Decrypted bytes that Read returns without touching the socket.
  size_t Buffered() const;
  short WantedEvents() const { return wanted_; }
  bool Resumed() const;
  // Sends close_notify when the socket takes it at once; never waits. A session is
  // resumable later only when its connection was shut down this way.
  void Shutdown();
  // A session the server sent: kept in the context for this channel's server.
  void KeepSession(ssl_session_st* session) { context_->KeepSession(server_, session); }

 private:
  // Turns the result of an SSL call into the return conventions above.
  ssize_t Result(int ret, const char* what);

  std::shared_ptr<TTlsContext> context_;
  ssl_st* ssl_ = nullptr;
  std::string host_;
  std::string server_;  // key of the session cache: host:port
  short wanted_ = 0;
};

}  // namespace pellora
