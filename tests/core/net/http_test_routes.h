#pragma once

#include <map>
#include <string>

#include "net/test_http_server.h"

namespace pellora::testing {

// Serves the same reply to every request.
inline TestHttpServer::Handler Answer(std::string reply) {
  return [reply = std::move(reply)](TestConnection& connection) {
    connection.ReadRequest();
    connection.Send(reply);
  };
}

// Answers by the path of the request line.
inline TestHttpServer::Handler Route(std::map<std::string, std::string> replies) {
  return [replies = std::move(replies)](TestConnection& connection) {
    const std::string request = connection.ReadRequest();
    const std::string target = request.substr(4, request.find(' ', 4) - 4);
    for (const auto& [suffix, reply] : replies) {
      if (target.size() >= suffix.size() &&
          target.compare(target.size() - suffix.size(), suffix.size(), suffix) == 0) {
        connection.Send(reply);
        return;
      }
    }
    connection.Send(Reply("404 Not Found", {}, "no route"));
  };
}

inline std::string FirstLine(const std::string& request) {
  return request.substr(0, request.find("\r\n"));
}

inline bool HasLine(const std::string& request, const std::string& line) {
  return request.find("\r\n" + line + "\r\n") != std::string::npos;
}

}  // namespace pellora::testing
