#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/net/net_address.h"
#include "core/net/sock_error.h"

namespace pellora {

class TStreamSocket;
class TTlsChannel;
class TTlsContext;

using TNotifyEvent = std::function<void(TStreamSocket& sender)>;
using TOnErrorEvent =
    std::function<void(TStreamSocket& sender, int32_t errno_value, const std::string& errmsg)>;
using THandlerEvent = std::function<void(bool& handled)>;
using TOnStatus = std::function<void(TStreamSocket& sender, const std::string& status)>;

// One TCP client connection with blocking operations that never block the thread's
// other work: every wait polls the socket in short slices and calls OnPump between
// them (the GUI sets it to process its pending events; Abort or Cancel called from
// there ends the running wait). TimeOut is an inactivity deadline in milliseconds
// (0 = none): one full period for the lookup, one for the connect, one per call of
// SendBuffer and ReadLn, and one per received chunk in the captures.
//
// A host name may stand for several IPv6 and IPv4 addresses: Connect tries them in
// the resolver's order until one answers, sharing the connect period among those
// left. With Secure set, Connect adds TLS (verified against Host) once the TCP
// connection stands, unless it goes to a Proxy: the caller then opens a tunnel and
// calls StartTls itself. Every send and receive below goes through TLS when it is on.
//
// Every close leaves a fresh unconnected socket behind, so Connect may be called again
// after Disconnect. Not thread-safe except for Cancel and Abort, which may come from
// any thread.
class TStreamSocket {
 public:
  static constexpr size_t kBufferSize = 65536;

  TStreamSocket();
  virtual ~TStreamSocket();
  TStreamSocket(const TStreamSocket&) = delete;
  TStreamSocket& operator=(const TStreamSocket&) = delete;

  // --- properties ---
  std::string Host;         // host name or numeric IPv4/IPv6 address of the server
  uint32_t Port = 0;        // server port
  uint32_t TimeOut = 0;     // inactivity time-out in ms; 0 waits without limit
  int32_t ReportLevel = 0;  // highest status level passed to OnStatus
  std::string Proxy;        // when set, lookup and connection go to Proxy:ProxyPort
  uint32_t ProxyPort = 0;
  bool Secure = false;    // TLS over the connection
  std::string TlsCaFile;  // extra trusted CA certificates (PEM), beside the system's
  // Replaces the system's host lookup when set (synchronous; tests use it to give a
  // name several addresses).
  std::function<std::vector<TNetAddress>(const std::string& name)> Resolver;

  // Counters. 64-bit so that transfers beyond 2 GiB count correctly.
  int64_t SentCount = 0;       // bytes sent by SendFile / SendStream
  int64_t ReceivedCount = 0;   // bytes received by the current or last capture
  int64_t ExpectedLength = 0;  // size announced for the transfer; bounds nothing
  int32_t ReplyCode = 0;       // numeric code of the last reply

  // Socket layer information, filled by the first live instance of the process.
  std::vector<std::string> WSInfo;

  // --- events (optional) ---
  std::function<void()> OnPump;  // called between wait slices
  TNotifyEvent OnConnect;
  TNotifyEvent OnDisconnect;
  TOnErrorEvent OnError;
  THandlerEvent OnInvalidHost;
  TNotifyEvent OnHostResolved;
  std::function<void()> OnNotConnected;
  TOnStatus OnStatus;
  TNotifyEvent OnConnectionFailed;
  TNotifyEvent OnPacketRecvd;
  TNotifyEvent OnPacketSent;

  // --- connection ---
  virtual void Connect();
  virtual void Disconnect();
  void CertifyConnect();
  void Cancel();
  virtual void Abort();
  bool Connected() const { return connected_; }
  // Whether the connection still stands, after noticing a close the peer made
  // meanwhile (which leaves a fresh unconnected socket, as Disconnect does). For
  // a connection that is used again: a cancel that came before is forgotten, as
  // Connect forgets it.
  bool StillConnected() {
    canceled_ = false;
    ProcessCloseNotification();
    return connected_;
  }
  // Whether the last wait ended because TimeOut passed (until the next wait starts).
  bool TimedOut() const { return timed_out_; }
  // TLS over the connection that stands (Host is what the certificate must name).
  // One TimeOut period for the handshake; ECertificateError when verification fails.
  void StartTls(const std::string& host, uint16_t port);
  // Whether the TLS handshake of the connection resumed an earlier session.
  bool TlsResumed() const;

  // --- sending ---
  // Sends `length` bytes, or up to the first zero byte when length is 0.
  void SendBuffer(const char* buffer, size_t length);
  void Write(const std::string& text);
  void Writeln(const std::string& text);
  void SendFile(const std::string& path);
  void SendStream(std::istream& stream);

  // --- receiving ---
  std::string Read(uint16_t count);
  // The next line with its LF (and the CR before it when one was sent). Empty when the
  // peer closed first, also in the middle of a line. Consumes nothing after the LF.
  std::string ReadLn();
  virtual std::string Transaction(const std::string& command);
  void AppendFile(const std::string& path);
  void CaptureFile(const std::string& path);
  // Receives at most `length` bytes (-1: until the peer closes) into the file.
  void CaptureFile(const std::string& path, int64_t length);
  // size -1: one receive; otherwise until the stream holds `size` bytes or the peer closes.
  void CaptureStream(std::ostream& stream, int64_t size);
  // size -1: until the peer closes; otherwise until the text holds at least `size` bytes.
  void CaptureString(std::string& text, int64_t size);
  void FilterHeader(std::ostream& stream);
  bool DataAvailable();
  void ClearInput();
  const std::string& LastReply() const { return last_reply_; }

  // --- lower level ---
  void ResolveRemoteHost();
  void RequestCloseSocket();
  void Close(int handle);
  // Raises ESockError for the last socket error unless it is `ignored` or not above 10000.
  void ErrorManager(int32_t ignored);
  void SetWSAError(int32_t number, const std::string& text);
  std::string SocketErrorStr(int32_t number);
  int32_t GetLastErrorNo();
  void SetLastErrorNo(int32_t number);
  void StatusMessage(uint8_t level, const std::string& text);
  const std::string& LastStatus() const { return last_status_; }

  // --- addresses ---
  std::string GetRemoteIP();
  std::string GetLocalIP();
  std::string GetLocalAddress();
  std::string GetPortString();

  // Live instances in the process.
  static int InstanceCount();

 protected:
  void TimerOn();
  void TimerOff();
  void TimerFired();
  std::atomic<bool> lookup_done_{false};

 private:
  // Waits one slice (about 10 ms, less when the deadline comes sooner) for `events` on
  // the socket, then pumps and checks the deadline. Returns the poll result events.
  short WaitSlice(int fd, short events);
  void PumpAndCheckTimer();
  void PumpIfDue();
  void CheckTimer();
  // Records errno as the last socket error and returns its number.
  int32_t RecordErrno(int err);
  void CreateSocket(bool zero_linger, int family = AF_INET);
  void InitWinsock();
  void ProcessCloseNotification();
  void RaiseAborted(const char* text);
  // Receives chunks into `store` until it returns false or the peer closes.
  // With a limit, stops after that many bytes (what follows them is dropped).
  void ReceiveChunks(const std::function<bool(const char*, size_t)>& store, const char* abort_text,
                     bool timed, int64_t limit = -1);
  void SendAll(const char* data, size_t length, bool count_sent);
  // send() and recv() of the connection, through TLS when it is on.
  ssize_t RawSend(const char* data, size_t length);
  ssize_t RawReceive(char* data, size_t length);
  // The poll events an I/O wait needs: TLS may need the other direction.
  short IoEvents(short events) const;
  // One connect attempt to `address`; false when it failed (the error is recorded).
  bool ConnectTo(const TNetAddress& address, std::chrono::steady_clock::time_point until);

  // Received bytes not yet handed out: a line read takes one chunk from the
  // socket and keeps what follows the line here, where every later read finds it
  // first (far fewer system calls than peeking for each line).
  size_t Pending() const { return rx_end_ - rx_begin_; }
  // One non-blocking receive appended to the read-ahead; the recv result.
  ssize_t ReceiveAhead();
  void DropPending() { rx_begin_ = rx_end_ = 0; }

  std::unique_ptr<char[]> buffer_;
  std::unique_ptr<char[]> rx_;
  size_t rx_begin_ = 0;
  size_t rx_end_ = 0;
  int fd_ = -1;
  bool connected_ = false;
  std::atomic<bool> canceled_{false};
  bool destroying_ = false;
  bool timed_out_ = false;
  bool notification_ok_ = true;
  int32_t last_error_ = 0;
  int32_t platform_error_ = 0;
  bool zero_linger_ = false;        // of the socket in fd_
  int fd_family_ = AF_INET;         // of the socket in fd_
  bool fd_used_ = false;            // fd_ has been given to connect() already
  std::vector<TNetAddress> peers_;  // resolved addresses; empty = not resolved
  TNetAddress peer_;                // the one connected to
  uint16_t peer_port_ = 0;          // host byte order
  std::shared_ptr<TTlsContext> tls_context_;
  std::unique_ptr<TTlsChannel> tls_;
  std::string last_status_;
  std::string last_reply_;
  bool timer_enabled_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  std::chrono::steady_clock::time_point last_pump_{};
};

}  // namespace pellora
