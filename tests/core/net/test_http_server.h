#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pellora::testing {

// One accepted connection of the test server, with blocking helpers that all give up
// after a few seconds so that no test can hang on them.
class TestConnection {
 public:
  explicit TestConnection(int fd, std::function<void(const std::string&)> record);
  ~TestConnection();
  TestConnection(const TestConnection&) = delete;
  TestConnection& operator=(const TestConnection&) = delete;

  // Reads up to and including the empty line that ends a request header (or what came
  // before the client closed) and records it.
  std::string ReadRequest();
  // Reads exactly `count` bytes (fewer when the client closes first).
  std::string ReadBytes(size_t count);
  void Send(std::string_view data);
  void Pause(std::chrono::milliseconds time);
  // Waits until the client closes its side, at most `limit`.
  void WaitForClose(std::chrono::milliseconds limit = std::chrono::seconds(5));
  void Close();
  int Fd() const { return fd_; }

 private:
  int fd_;
  std::string pending_;
  std::function<void(const std::string&)> record_;
};

// A scriptable HTTP server on 127.0.0.1 and a free port, serving one connection at a
// time on its own thread; the handler scripts what each connection gets.
class TestHttpServer {
 public:
  using Handler = std::function<void(TestConnection&)>;
  explicit TestHttpServer(Handler handler);
  ~TestHttpServer();

  int Port() const { return port_; }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Requests() const;
  int Connections() const { return connections_.load(); }

 private:
  void Serve();

  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// "HTTP/1.0 <status>\r\n" + headers (each given without CR LF) + "\r\n" + body.
std::string Reply(std::string_view status, const std::vector<std::string>& headers,
                  std::string_view body);

// Acts as a plain HTTP proxy: reads the request, connects to the host:port of its
// absolute URL and relays the request and the whole reply.
void ForwardAsProxy(TestConnection& connection);

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
