#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/net/ex_string_list.h"
#include "core/net/header_info.h"
#include "core/net/stream_socket.h"

namespace pellora {

enum class CmdType : uint8_t {
  CmdGET = 0,
  CmdOPTIONS,
  CmdHEAD,
  CmdPOST,
  CmdPUT,
  CmdPATCH,
  CmdCOPY,
  CmdMOVE,
  CmdDELETE,
  CmdLINK,
  CmdUNLINK,
  CmdTRACE,
  CmdWRAPPED,
};

using TResultEvent = std::function<void(CmdType cmd)>;

// One HTTP/1.0 exchange per call: connect (directly or through Proxy), send the request,
// read the reply header line by line, capture the body (Content-Length bytes when the
// reply gives a length, else until the server closes), and follow redirects 300-302.
// "https://" URLs go over TLS, through a CONNECT tunnel when there is a Proxy; the
// request bytes are the same as over plain HTTP. Typical use:
//
//   THttpClient http;
//   http.OnPump = [] { /* process GUI events; may call http.Abort() */ };
//   http.TimeOut = 10000;
//   http.Proxy = "proxy"; http.ProxyPort = 8080;      // optional
//   http.HeaderInfo.UserId = "u"; http.HeaderInfo.Password = "p";  // optional
//   http.InputFileMode = true; http.Body = "/tmp/pelXXXXXX";
//   http.Get("http://host/dir/f001.jpg");
//   // http.ReplyCode, http.Header (reply header text), body in the file named by Body
//
// HTTP status codes are no exceptions; failures of the connection are (ESockError,
// EAbortError for time-outs and aborts, ECertificateError for a server certificate
// that fails verification), and so is a reply that ends before its header or its
// announced length does.
class THttpClient : public TStreamSocket {
 public:
  static constexpr int kMaxRedirects = 20;
  // A reply header beyond this size ends the exchange instead of filling memory.
  static constexpr size_t kMaxHeaderSize = 1 << 20;

  THttpClient();
  ~THttpClient() override;

  // With InputFileMode the path of the file that receives the body, otherwise the body.
  std::string Body = "Default.htm";
  // With OutputFileMode the path of the file that receives the header, otherwise it.
  std::string Header = "Head.txt";
  THeaderInfo HeaderInfo;
  bool InputFileMode = false;
  bool OutputFileMode = false;
  bool UrlEncode = true;  // POST data is form-encoded
  // Ask the server to keep the connection ("Connection: keep-alive") and send the
  // next request to the same server over it when the reply allowed that and had a
  // known length. Off: one connection per request, as the request bytes have always
  // been.
  bool KeepConnection = false;

  TResultEvent OnSuccess;
  TResultEvent OnFailure;
  TNotifyEvent OnAboutToSend;
  THandlerEvent OnRedirect;
  TNotifyEvent OnAuthenticationNeeded;

  // --- commands ---
  virtual void Get(const std::string& url);
  virtual void Options(const std::string& url);
  void Head(const std::string& url);
  void Post(const std::string& url, const std::string& data);
  void Put(const std::string& url, const std::string& data);
  void Patch(const std::string& url, const std::string& data);
  void Copy(const std::string& url, const std::string& uri);
  void Move(const std::string& url, const std::string& uri);
  void Delete(const std::string& url);
  void Link(const std::string& url, const std::string& uri);
  void UnLink(const std::string& url, const std::string& uri);
  void Trace(const std::string& url, const std::string& data);
  void Wrapped(const std::string& url, const std::string& data);

  void Abort() override;

  // --- the steps of one exchange ---
  virtual void HTTPConnect();
  virtual void ParseURL();
  virtual void AssembleHTTPHeader();
  virtual void SendHTTP();
  virtual void RemoveHeader();

  // --- state of the exchange ---
  const std::string& CurrentUrl() const { return url_; }
  void SetCurrentUrl(const std::string& url) { url_ = url; }
  CmdType Command() const { return command_; }
  void SetCommand(CmdType command) { command_ = command; }
  const std::string& RequestPath() const { return request_path_; }
  const TExStringList& RequestHeader() const { return request_header_; }
  const std::string& RedirectTarget() const { return redirect_target_; }
  const std::string& ReceivedCookie() const { return received_cookie_; }
  const std::string& SendData() const { return send_data_; }
  const std::string& UriArgument() const { return uri_argument_; }

 private:
  void Run(CmdType command, const std::string& url);
  // A plain request to the proxy, with an absolute URL; an https request goes through a
  // tunnel and is sent as to the server itself.
  bool ViaProxy() const { return !Proxy.empty() && !Secure; }
  // The host as a URL writes it: an IPv6 address in brackets.
  std::string UrlHost() const;
  // The Host header's value: the host, with the port when it is not the scheme's.
  std::string HostHeader() const;
  // "scheme://host[:port]" of the current request.
  std::string Origin() const;
  // Opens a CONNECT tunnel through the proxy to Host:Port.
  void OpenTunnel();
  // Receives the body into Body; -1 when the length is not known.
  void CaptureBody(int64_t length);
  // Connects, or keeps the kept connection when it goes where this request goes;
  // true when it was kept.
  bool ConnectOrReuse();
  // The server and the way to it, which a kept connection must match.
  std::string ConnectionKey() const;
  // Raises ESockError when a request line would carry CR, LF or NUL.
  void CheckRequestHeader() const;
  void Exchange();
  std::string AbsoluteRedirect(const std::string& location) const;

  std::string request_path_;
  TExStringList request_header_;
  std::string redirect_target_;
  std::string received_cookie_;
  std::string send_data_;
  std::string uri_argument_;
  std::string url_;
  CmdType command_ = CmdType::CmdGET;
  std::string scheme_ = "http";  // of the current URL, lower case
  uint32_t default_port_ = 80;   // the scheme's
  int64_t body_length_ = -1;     // Content-Length of the reply; -1 none
  bool reply_keeps_ = false;     // the reply's header lets the connection stay
  std::string kept_key_;         // ConnectionKey of the connection kept open
  // Credentials go only to the scheme, host and port they were given for.
  bool send_credentials_ = true;
  // A cookie taken from a redirect reply goes only to the host that set it.
  std::string redirect_cookie_;
  std::string redirect_cookie_host_;
};

}  // namespace pellora
