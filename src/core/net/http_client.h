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
// read the reply header line by line, capture the body until the server closes, and
// follow redirects 300-302. Typical use:
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
// EAbortError for time-outs and aborts).
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
  // Credentials go only to the host they were given for, not to a redirect target.
  bool send_credentials_ = true;
};

}  // namespace pellora
