#pragma once

#include <cstdint>
#include <string>

namespace pellora {

// The option record. Field names double as the per-user store's value names.
struct TSettings {
  bool FileSync = true;           // the To file pattern follows the From pattern
  bool NumSync = true;            // the To range follows the From range
  bool ShowCaution = false;       // ask the user when a remote file is missing
  bool NumPack = false;           // missing files use up no local number
  bool SaveErrorMessage = false;  // store the server's error page as the local file
  bool AutoSlash = true;          // append "/" to the From base directory
  bool UseProxyServer = false;
  bool RequireAuthorization = false;
  bool PasswordSaving = true;   // whether Password is persisted
  bool NotLoadIfExist = false;  // skip numbers whose local file exists
  int32_t TimeOut = 10000;      // milliseconds
  int32_t ProxyPort = 8080;
  std::string ProxyServer;
  std::string UserID;
  std::string Password;
  std::string Agent = "Pellora";
  std::string Referer;
  std::string MailAddress;
  std::string TrustedCaFile;     // extra trusted CA certificates (PEM) for https
  int32_t Connections = 1;       // simultaneous transfers of a run (1-16)
  int32_t Retries = 0;           // further tries of a file after a network failure (0-10)
  int32_t StopAfterMissing = 0;  // end the run after this many missing in a row (0: never)
  int32_t RequestInterval = 0;   // least milliseconds between two request starts

  bool operator==(const TSettings&) const = default;
};

}  // namespace pellora
