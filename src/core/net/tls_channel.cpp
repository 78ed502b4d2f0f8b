#include "core/net/tls_channel.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "core/net/net_address.h"

namespace pellora {

namespace {

// The reasons OpenSSL queued for the last failure, oldest first, as one text.
std::string TakeErrorReasons() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    const char* reason = ERR_reason_error_string(code);
    if (reason == nullptr) continue;
    if (!text.empty()) text += "; ";
    text += reason;
  }
  return text;
}

TCertProblem ProblemOf(long verify_result) {
  switch (verify_result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return TCertProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return TCertProblem::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return TCertProblem::WrongName;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return TCertProblem::UnknownIssuer;
    case X509_V_ERR_CERT_REVOKED:
      return TCertProblem::Revoked;
    default:
      return TCertProblem::Other;
  }
}

// The socket BIO writes with write(), which raises SIGPIPE on a connection the
// peer has closed; this one sends with MSG_NOSIGNAL like the rest of the socket layer.
int SocketWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  const ssize_t n = ::send(static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))), data,
                           static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_write(bio);
  }
  return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  const ssize_t n = ::recv(static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))), data,
                           static_cast<size_t>(size), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_read(bio);
  }
  return static_cast<int>(n);
}

long SocketControl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* SocketMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pellora socket");
    if (m != nullptr) {
      BIO_meth_set_write(m, SocketWrite);
      BIO_meth_set_read(m, SocketRead);
      BIO_meth_set_ctrl(m, SocketControl);
      BIO_meth_set_create(m, SocketCreate);
    }
    return m;
  }();
  return method;
}

int OnNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* channel = static_cast<TTlsChannel*>(SSL_get_app_data(ssl));
  if (channel == nullptr) return 0;
  channel->KeepSession(session);
  return 1;  // the reference is ours now
}

}  // namespace

ECertificateError::ECertificateError(const std::string& host, TCertProblem problem,
                                     const std::string& reason)
    : ESockError("Certificate of " + host + " not accepted: " + reason),
      Host(host),
      Problem(problem),
      Reason(reason) {}

// ---------------------------------------------------------------- TTlsContext

TTlsContext::TTlsContext(const std::string& extraCaFile) : extra_ca_file_(extraCaFile) {
  ERR_clear_error();
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (ctx_ == nullptr) throw ESockError("TLS cannot be set up: " + TakeErrorReasons());
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  // Partial writes behave like send() on a non-blocking socket; a close without
  // close_notify reads as an ordinary end, which the HTTP layer judges by the length.
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx_, OnNewSession);
  // Missing system certificates are not fatal here: verification then fails with a
  // clear reason, and an extra CA file may be all that is needed.
  SSL_CTX_set_default_verify_paths(ctx_);
  ERR_clear_error();
  if (!extra_ca_file_.empty() && SSL_CTX_load_verify_file(ctx_, extra_ca_file_.c_str()) != 1) {
    const std::string reasons = TakeErrorReasons();
    SSL_CTX_free(ctx_);
    throw ESockError("CA certificate file \"" + extra_ca_file_ + "\" cannot be loaded" +
                     (reasons.empty() ? std::string() : ": " + reasons));
  }
}

TTlsContext::~TTlsContext() {
  for (auto& [server, session] : sessions_) SSL_SESSION_free(session);
  SSL_CTX_free(ctx_);
}

ssl_session_st* TTlsContext::TakeSession(const std::string& server) const {
  std::lock_guard lock(mutex_);
  const auto found = sessions_.find(server);
  if (found == sessions_.end()) return nullptr;
  SSL_SESSION_up_ref(found->second);
  return found->second;
}

void TTlsContext::KeepSession(const std::string& server, ssl_session_st* session) {
  std::lock_guard lock(mutex_);
  ssl_session_st*& slot = sessions_[server];
  if (slot != nullptr) SSL_SESSION_free(slot);
  slot = session;
}

// ---------------------------------------------------------------- TTlsChannel

TTlsChannel::TTlsChannel(std::shared_ptr<TTlsContext> context, int fd, const std::string& host,
                         uint16_t port)
    : context_(std::move(context)), host_(host) {
  std::string lower = host;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  server_ = lower + ":" + std::to_string(port);
  ERR_clear_error();
  ssl_ = SSL_new(context_->Native());
  if (ssl_ == nullptr) throw ESockError("TLS cannot be set up: " + TakeErrorReasons());
  SSL_set_app_data(ssl_, this);
  BIO* bio = SocketMethod() != nullptr ? BIO_new(SocketMethod()) : nullptr;
  bool ok = bio != nullptr;
  if (ok) {
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    SSL_set_bio(ssl_, bio, bio);  // the connection owns the BIO from here on
  }
  if (NumericAddress(host)) {
    ok = ok && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str()) == 1;
  } else {
    ok = ok && SSL_set_tlsext_host_name(ssl_, host.c_str()) == 1 &&
         SSL_set1_host(ssl_, host.c_str()) == 1;
  }
  if (!ok) {
    const std::string reasons = TakeErrorReasons();
    SSL_free(ssl_);
    throw ESockError("TLS cannot be set up for " + host + ": " + reasons);
  }
  if (SSL_SESSION* session = context_->TakeSession(server_)) {
    SSL_set_session(ssl_, session);
    SSL_SESSION_free(session);  // the connection holds its own reference
  }
}

TTlsChannel::~TTlsChannel() {
  SSL_free(ssl_);
}

int TTlsChannel::Handshake() {
  ERR_clear_error();
  const int ret = SSL_connect(ssl_);
  if (ret == 1) return 1;
  const int saved_errno = errno;
  switch (SSL_get_error(ssl_, ret)) {
    case SSL_ERROR_WANT_READ:
      wanted_ = POLLIN;
      return 0;
    case SSL_ERROR_WANT_WRITE:
      wanted_ = POLLOUT;
      return 0;
    case SSL_ERROR_SYSCALL:
      if (saved_errno != 0) {
        errno = saved_errno;
        return -1;
      }
      throw ESockError("TLS handshake failed: the server closed the connection");
    default: {
      const long verify = SSL_get_verify_result(ssl_);
      if (verify != X509_V_OK) {
        ERR_clear_error();
        throw ECertificateError(host_, ProblemOf(verify), X509_verify_cert_error_string(verify));
      }
      const std::string reasons = TakeErrorReasons();
      throw ESockError("TLS handshake failed" + (reasons.empty() ? "" : ": " + reasons));
    }
  }
}

ssize_t TTlsChannel::Result(int ret, const char* what) {
  if (ret > 0) return ret;
  const int saved_errno = errno;
  switch (SSL_get_error(ssl_, ret)) {
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_WANT_READ:
      wanted_ = POLLIN;
      errno = EAGAIN;
      return -1;
    case SSL_ERROR_WANT_WRITE:
      wanted_ = POLLOUT;
      errno = EAGAIN;
      return -1;
    case SSL_ERROR_SYSCALL:
      if (saved_errno == 0) return 0;
      errno = saved_errno;
      return -1;
    default: {
      const std::string reasons = TakeErrorReasons();
      throw ESockError(std::string("TLS ") + what + " failed" +
                       (reasons.empty() ? "" : ": " + reasons));
    }
  }
}

ssize_t TTlsChannel::Read(char* data, size_t size) {
  ERR_clear_error();
  errno = 0;
  return Result(SSL_read(ssl_, data, static_cast<int>(std::min<size_t>(size, INT_MAX))), "read");
}

ssize_t TTlsChannel::Write(const char* data, size_t size) {
  ERR_clear_error();
  errno = 0;
  return Result(SSL_write(ssl_, data, static_cast<int>(std::min<size_t>(size, INT_MAX))), "write");
}

size_t TTlsChannel::Buffered() const {
  return static_cast<size_t>(std::max(SSL_pending(ssl_), 0));
}

bool TTlsChannel::Resumed() const {
  return SSL_session_reused(ssl_) == 1;
}

void TTlsChannel::Shutdown() {
  ERR_clear_error();
  if (SSL_is_init_finished(ssl_)) SSL_shutdown(ssl_);
  ERR_clear_error();
}

}  // namespace pellora
