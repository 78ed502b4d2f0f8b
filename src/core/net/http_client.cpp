#include "core/net/http_client.h"

#include <strings.h>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "core/net/text_fields.h"
#include "core/net/url_codec.h"
#include "core/net/uu_processor.h"
#include "core/sequence/int_conversion.h"

namespace pellora {

namespace {

constexpr const char* kMethodText[] = {"GET ",    "OPTIONS ", "HEAD ",   "POST ",
                                       "PUT ",    "PATCH ",   "COPY ",   "MOVE ",
                                       "DELETE ", "LINK ",    "UNLINK ", "TRACE "};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string WithoutTerminator(const std::string& line) {
  size_t end = line.size();
  if (end > 0 && line[end - 1] == '\n') --end;
  if (end > 0 && line[end - 1] == '\r') --end;
  return line.substr(0, end);
}

// The value after a header name, its colon and one blank.
std::string HeaderValue(const std::string& line, size_t name_length) {
  const std::string bare = WithoutTerminator(line);
  return bare.size() > name_length ? bare.substr(name_length) : std::string();
}

int64_t LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) return 0;  // not a size anything could send
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// A Content-Length value that is nothing but a decimal number (blanks around it
// allowed); anything else leaves the length unknown.
std::optional<int64_t> StrictLength(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool HasRequestBody(CmdType command) {
  switch (command) {
    case CmdType::CmdPOST:
    case CmdType::CmdPUT:
    case CmdType::CmdPATCH:
    case CmdType::CmdTRACE:
    case CmdType::CmdWRAPPED:
      return true;
    default:
      return false;
  }
}

}  // namespace

THttpClient::THttpClient() = default;

THttpClient::~THttpClient() = default;

// ---------------------------------------------------------------- commands

void THttpClient::Run(CmdType command, const std::string& url) {
  command_ = command;
  url_ = url;
  HTTPConnect();
}

void THttpClient::Get(const std::string& url) {
  Run(CmdType::CmdGET, url);
}
void THttpClient::Options(const std::string& url) {
  Run(CmdType::CmdOPTIONS, url);
}
void THttpClient::Head(const std::string& url) {
  Run(CmdType::CmdHEAD, url);
}
void THttpClient::Delete(const std::string& url) {
  Run(CmdType::CmdDELETE, url);
}

void THttpClient::Post(const std::string& url, const std::string& data) {
  send_data_ = UrlEncode && !OutputFileMode ? TUrlCodec::Encode(data) : data;
  Run(CmdType::CmdPOST, url);
}

void THttpClient::Put(const std::string& url, const std::string& data) {
  send_data_ = data;
  Run(CmdType::CmdPUT, url);
}

void THttpClient::Patch(const std::string& url, const std::string& data) {
  send_data_ = data;
  Run(CmdType::CmdPATCH, url);
}

void THttpClient::Copy(const std::string& url, const std::string& uri) {
  uri_argument_ = uri;
  Run(CmdType::CmdCOPY, url);
}

void THttpClient::Move(const std::string& url, const std::string& uri) {
  uri_argument_ = uri;
  Run(CmdType::CmdMOVE, url);
}

void THttpClient::Link(const std::string& url, const std::string& uri) {
  uri_argument_ = uri;
  send_data_ = "Send.dat";
  Run(CmdType::CmdLINK, url);
}

void THttpClient::UnLink(const std::string& url, const std::string& uri) {
  uri_argument_ = uri;
  send_data_ = "Send.dat";
  Run(CmdType::CmdUNLINK, url);
}

void THttpClient::Trace(const std::string& url, const std::string& data) {
  send_data_ = data;
  Run(CmdType::CmdTRACE, url);
}

void THttpClient::Wrapped(const std::string& url, const std::string& data) {
  send_data_ = data;
  Run(CmdType::CmdWRAPPED, url);
}

void THttpClient::Abort() {
  lookup_done_ = true;
  Cancel();
}

// ---------------------------------------------------------------- the request loop

void THttpClient::HTTPConnect() {
  std::string credential_origin;
  for (int redirects = 0;; ++redirects) {
    ParseURL();
    if (redirects == 0) credential_origin = Lower(Origin());
    send_credentials_ = Lower(Origin()) == credential_origin;
    AssembleHTTPHeader();
    if (OnAboutToSend) OnAboutToSend(*this);
    CheckRequestHeader();
    Exchange();

    const bool redirect = ReplyCode >= 300 && ReplyCode <= 302 && !redirect_target_.empty();
    if (ReplyCode < 299) {
      if (OnSuccess) OnSuccess(command_);
      StatusMessage(2, "Transaction Completed");
    } else if (ReplyCode <= 399) {
      if (redirect) url_ = AbsoluteRedirect(redirect_target_);
    } else {
      if (OnFailure) OnFailure(command_);
    }
    if (!kept_key_.empty() && Connected()) {
      StatusMessage(8, "Connection kept");
    } else {
      Disconnect();
    }

    if (ReplyCode >= 300 && ReplyCode <= 398) {
      if (!received_cookie_.empty()) {
        HeaderInfo.Cookie = redirect_cookie_ = received_cookie_;
        redirect_cookie_host_ = Host;
      }
      bool handled = false;
      if (OnRedirect) OnRedirect(handled);
      if (handled) return;
    }
    if (ReplyCode == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded(*this);
    // 299 and 303-399, a redirect without a target, and the reply after the last
    // allowed redirect all end the exchange with that reply.
    if (!redirect || redirects >= kMaxRedirects) return;
  }
}

void THttpClient::Exchange() {
  ReplyCode = 0;
  try {
    const auto request = [this] {
      SendHTTP();
      ReplyCode = 0;
      RemoveHeader();
    };
    const bool reused = ConnectOrReuse();
    kept_key_.clear();
    try {
      request();
    } catch (const EAbortError&) {
      throw;
    } catch (const ESockError&) {
      // A kept connection the server closed while it was idle: the request never
      // reached it, so it goes again over a new one.
      if (!reused) throw;
      Disconnect();
      ConnectOrReuse();
      request();
    }
    // These replies never have a body, whatever their header says.
    const bool bodiless = command_ == CmdType::CmdHEAD || ReplyCode == 204 || ReplyCode == 304 ||
                          (ReplyCode >= 100 && ReplyCode < 200);
    const int64_t length = bodiless ? 0 : body_length_;
    CaptureBody(length);
    if (KeepConnection && reply_keeps_ && length >= 0) kept_key_ = ConnectionKey();
  } catch (...) {
    kept_key_.clear();
    try {
      Disconnect();
    } catch (...) {
      // The first failure is the one worth reporting.
    }
    throw;
  }
}

std::string THttpClient::ConnectionKey() const {
  return Lower(Origin()) + " " + Proxy + ":" + std::to_string(ProxyPort);
}

bool THttpClient::ConnectOrReuse() {
  if (Connected()) {
    if (KeepConnection && kept_key_ == ConnectionKey() && StillConnected()) return true;
    Disconnect();  // kept for another server, or closed by the peer
  }
  Connect();
  if (Secure && !Proxy.empty()) OpenTunnel();
  return false;
}

void THttpClient::CaptureBody(int64_t length) {
  if (InputFileMode) {
    CaptureFile(Body, length);
  } else if (length == 0) {
    Body.clear();
    ReceivedCount = 0;
  } else {
    CaptureString(Body, length);
    if (length > 0 && static_cast<int64_t>(Body.size()) > length) {
      Body.resize(static_cast<size_t>(length));
      ReceivedCount = length;
    }
  }
  // A body that ends before its announced length is a dropped connection, not a file.
  if (length > 0 && ReceivedCount < length) {
    throw ESockError("Connection closed after " + std::to_string(ReceivedCount) + " of " +
                     std::to_string(length) + " bytes of the body");
  }
}

void THttpClient::OpenTunnel() {
  const std::string target = UrlHost() + ":" + std::to_string(Port);  // always with the port
  Write("CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n\r\n");
  const std::string status = ReadLn();
  const int32_t code = TryStrToInt(NthWord(WithoutTerminator(status), ' ', 2)).value_or(0);
  for (std::string line = status; !line.empty() && line != "\n" && line != "\r\n";) {
    line = ReadLn();
  }
  if (status.empty()) throw ESockError("Proxy closed the connection instead of a tunnel");
  if (code != 200) {
    throw ESockError("Proxy refused the tunnel to " + target + ": " + WithoutTerminator(status));
  }
  StartTls(Host, static_cast<uint16_t>(Port));
}

std::string THttpClient::UrlHost() const {
  return Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
}

std::string THttpClient::HostHeader() const {
  std::string host = UrlHost();
  if (Port != default_port_) host += ":" + std::to_string(Port);
  return host;
}

std::string THttpClient::Origin() const {
  return scheme_ + "://" + HostHeader();
}

namespace {

// "scheme:" at the start, as URI syntax defines a scheme.
bool StartsWithScheme(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(text[0]))) {
    return false;
  }
  return std::all_of(
      text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon),
      [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; });
}

}  // namespace

// A Location that is not absolute is made absolute on the current server, so that the
// next request keeps its scheme and port and a proxy receives a full URL. Only a
// scheme or "//" at the start makes it absolute: "/a//b" and "/x?next=http://y/" are
// paths on the current server.
std::string THttpClient::AbsoluteRedirect(const std::string& location) const {
  if (StartsWithScheme(location)) return location;
  if (location.starts_with("//")) return scheme_ + ":" + location;
  if (!location.empty() && location[0] == '/') return Origin() + location;
  return Origin() + "/" + location;
}

void THttpClient::ParseURL() {
  if (url_.empty()) throw std::runtime_error("Empty URL");
  if (Port == 0) Port = 80;

  const bool has_authority = url_.find("//") != std::string::npos;
  request_path_.clear();
  if (has_authority) {
    const size_t third = NthPos(url_, '/', 3);
    if (third <= url_.size()) request_path_ = url_.substr(third - 1);
  } else if (const size_t slash = url_.find('/'); slash != std::string::npos) {
    request_path_ = url_.substr(slash);
  }

  if (const size_t colon = url_.find(':'); colon != std::string::npos) {
    scheme_ = Lower(url_.substr(0, colon));
    if (scheme_ == "gopher") {
      Port = 70;
    } else if (scheme_ == "ftp") {
      Port = 21;
    } else if (scheme_ == "https") {
      Port = 443;
    } else {
      Port = 80;
    }
    // Only "https" means TLS; every other scheme is spoken as plain HTTP.
    Secure = scheme_ == "https";
    default_port_ = Port;
    if (scheme_ != "https" && scheme_ != "gopher" && scheme_ != "ftp") scheme_ = "http";
  }

  std::string host;
  if (has_authority) {
    host = NthWord(url_, '/', 3);
  } else if (url_[0] != '/') {
    host = NthWord(url_, '/', 1);
  }
  // A numeric IPv6 host stands in brackets: "[::1]:8080".
  std::optional<std::string> port_text;
  if (host.starts_with('[')) {
    const size_t close = host.find(']');
    const std::string rest = close == std::string::npos ? "" : host.substr(close + 1);
    if (close == std::string::npos || (!rest.empty() && rest[0] != ':')) {
      throw EConvertError("'" + host + "' is not a valid host");
    }
    if (!rest.empty()) port_text = rest.substr(1);
    host = host.substr(1, close - 1);
  } else if (const size_t colon = host.find(':'); colon != std::string::npos) {
    port_text = host.substr(colon + 1);
    host.erase(colon);
  }
  if (port_text) {
    const int32_t port = StrToInt(*port_text);
    if (port < 0 || port > 65535) {
      throw EConvertError("'" + *port_text + "' is not a valid port number");
    }
    Port = static_cast<uint32_t>(port);
  }
  if (!host.empty()) Host = host;
  if (request_path_.empty()) {
    request_path_ = "/";
    url_ += "/";
  }
}

void THttpClient::AssembleHTTPHeader() {
  TExStringList& list = request_header_;
  list.Clear();
  if (command_ != CmdType::CmdWRAPPED) {
    list.Add(std::string(kMethodText[static_cast<int>(command_)]) +
             (ViaProxy() ? url_ : request_path_) + " HTTP/1.0");
  }
  if (ViaProxy()) {
    list.Add("Proxy-Connection: Keep-Alive");
    list.Add("Host: " + HostHeader());
  }
  list.SetValue("Host", HostHeader());
  list.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
  list.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
  if (!HeaderInfo.LocalMailAddress.empty())
    list.SetValue("User-Agent", HeaderInfo.LocalMailAddress);
  if (!HeaderInfo.LocalProgram.empty()) list.SetValue("From", HeaderInfo.LocalProgram);
  const bool cookie_elsewhere = HeaderInfo.Cookie == redirect_cookie_ &&
                                ::strcasecmp(Host.c_str(), redirect_cookie_host_.c_str()) != 0;
  if (!HeaderInfo.Cookie.empty() && !cookie_elsewhere) list.SetValue("Cookie", HeaderInfo.Cookie);
  if (!HeaderInfo.Referer.empty()) list.SetValue("Referer", HeaderInfo.Referer);
  if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty() && send_credentials_) {
    list.SetValue("Authorization",
                  "Basic " + TUUProcessor::uuMime(HeaderInfo.UserId + ":" + HeaderInfo.Password));
  }
  list.Add("Content-type: application/x-www-form-urlencoded");
  // Through a proxy the request already asks it to keep the connection.
  if (KeepConnection && !ViaProxy()) list.Add("Connection: keep-alive");
  if (command_ == CmdType::CmdCOPY || command_ == CmdType::CmdMOVE) {
    list.Add("URI-header: " + uri_argument_);
  } else if (command_ == CmdType::CmdLINK || command_ == CmdType::CmdUNLINK) {
    list.Add("Link: " + uri_argument_);
  }
  if (HasRequestBody(command_) || command_ == CmdType::CmdLINK || command_ == CmdType::CmdUNLINK) {
    int64_t length = static_cast<int64_t>(send_data_.size());
    if (OutputFileMode) {
      std::error_code error;
      const auto size = std::filesystem::file_size(send_data_, error);
      if (error) throw EFileError("Cannot open file \"" + send_data_ + "\"");
      length = static_cast<int64_t>(size);
    }
    list.Add("Content-Length: " + std::to_string(length));
  }
}

void THttpClient::CheckRequestHeader() const {
  for (const std::string& line : request_header_.Lines) {
    if (line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos) continue;
    const size_t colon = line.find(':');
    const bool request_line =
        &line == &request_header_.Lines.front() && command_ != CmdType::CmdWRAPPED;
    const std::string where = request_line ? "the URL" : "the " + line.substr(0, colon) + " header";
    throw ESockError("Request not sent: " + where +
                     " contains a line break or zero byte (CR, LF or NUL)");
  }
}

void THttpClient::SendHTTP() {
  CheckRequestHeader();
  // The header and the empty line that ends it in one write: one segment, one TLS
  // record.
  Writeln(request_header_.Text());
  if (!HasRequestBody(command_)) return;
  if (OutputFileMode) {
    SendFile(send_data_);
  } else {
    Write(send_data_);
  }
}

// ---------------------------------------------------------------- the reply header

void THttpClient::RemoveHeader() {
  ExpectedLength = 0;
  body_length_ = -1;
  bool conflicting_lengths = false;
  reply_keeps_ = false;
  received_cookie_.clear();
  redirect_target_.clear();
  std::ofstream file;
  if (OutputFileMode) {
    file.open(Header, std::ios::binary | std::ios::trunc);
    if (!file) throw EFileError("Cannot create file \"" + Header + "\"");
  } else {
    Header.clear();
  }
  size_t total = 0;
  auto append = [&](const std::string& line) {
    total += line.size();
    if (total > kMaxHeaderSize) {
      throw ESockError("Reply header longer than " + std::to_string(kMaxHeaderSize) + " bytes");
    }
    if (OutputFileMode) {
      file.write(line.data(), static_cast<std::streamsize>(line.size()));
      if (!file) throw EFileError("Cannot write file \"" + Header + "\"");
    } else {
      Header += line;
    }
  };
  auto is_blank = [](const std::string& line) { return line == "\n" || line == "\r\n"; };

  // A reply cut before its empty line is a dropped connection, not an empty file.
  const std::string status = ReadLn();
  if (status.empty()) throw ESockError("Connection closed without a reply");
  ReplyCode = TryStrToInt(NthWord(WithoutTerminator(status), ' ', 2)).value_or(0);
  // HTTP/1.1 keeps a connection unless it says otherwise; HTTP/1.0 only when it says so.
  reply_keeps_ = Upper(NthWord(status, ' ', 1)) == "HTTP/1.1";
  append(status);
  if (is_blank(status)) return;
  for (;;) {
    const std::string line = ReadLn();
    if (line.empty()) throw ESockError("Connection closed before the end of the reply header");
    const std::string name = Upper(NthWord(line, ' ', 1));
    if (name == "SET-COOKIE:") {
      received_cookie_ = HeaderValue(line, 12);
    } else if (name == "LOCATION:") {
      redirect_target_ = HeaderValue(line, 10);
    } else if (name == "CONNECTION:" || name == "PROXY-CONNECTION:") {
      const std::string value = Lower(HeaderValue(line, name.size() + 1));
      if (value.find("close") != std::string::npos) reply_keeps_ = false;
      if (value.find("keep-alive") != std::string::npos) reply_keeps_ = true;
    } else if (name == "CONTENT-LENGTH:") {
      ExpectedLength = LeadingNumber(HeaderValue(line, 16));
      const std::optional<int64_t> length = StrictLength(HeaderValue(line, 16));
      conflicting_lengths =
          conflicting_lengths || !length || (body_length_ >= 0 && *length != body_length_);
      body_length_ = conflicting_lengths ? -1 : *length;
    }
    append(line);
    if (is_blank(line)) return;
  }
}

}  // namespace pellora
