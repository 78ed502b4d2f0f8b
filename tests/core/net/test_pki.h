#pragma once

#include <memory>
#include <string>

namespace pellora::testing {

// PEM files of one server certificate and its private key.
struct TestCertificate {
  std::string CertPath;
  std::string KeyPath;
};

// A throw-away certificate authority with server certificates, made at run time (EC
// P-256 keys) in a private temporary folder that the destructor removes, so that no
// key ever lives in the repository.
class TestPki {
 public:
  enum class Kind {
    Good,           // signed by the test CA; SAN DNS:localhost, IP:127.0.0.1, IP:::1; valid now
    Expired,        // as Good but valid only from 10 days ago to 1 day ago
    WrongName,      // as Good but SAN only DNS:other.invalid (no IPs)
    UnknownIssuer,  // as Good but signed by a second CA that CaFile() does not contain
  };

  TestPki();
  ~TestPki();
  TestPki(const TestPki&) = delete;
  TestPki& operator=(const TestPki&) = delete;

  // PEM of the test CA, the issuer of Good, Expired and WrongName.
  std::string CaFile() const;
  // Made on first use and kept; the reference stays valid as long as this object.
  const TestCertificate& Server(Kind kind) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pellora::testing
