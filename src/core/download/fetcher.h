#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/download/run_host.h"
#include "core/net/header_info.h"
#include "core/platform/temp_file.h"

namespace pellora {

class THttpClient;

// The start of a reply body that a progress display shows.
inline constexpr size_t kBodyPreviewBytes = 64 * 1024;

// How the clients of a run talk to servers: what the run's own client is set to.
struct TClientSetup {
  std::string Proxy;
  uint32_t ProxyPort = 0;
  uint32_t TimeOut = 0;
  THeaderInfo HeaderInfo;
  std::string TlsCaFile;

  static TClientSetup Of(const THttpClient& client);
  void ApplyTo(THttpClient& client) const;
};

struct TFetchOptions {
  int Connections = 1;            // fetch threads, each with its own client
  int Retries = 0;                // further tries after a failure worth another try
  int32_t RequestIntervalMs = 0;  // least time between two request starts, all threads
  bool KeepBodyStart = true;      // read back the start of each body for display
};

// One number to fetch.
struct TFetchJob {
  int32_t FromNumber = 0;
  std::string Url;          // as shown; spaces are encoded for the request
  std::string TempTarget;   // the body's file is made beside this path
  bool CheckTarget = true;  // TempTarget is the real target: refuse a read-only one
};

// What fetching a number gave.
struct TFetchResult {
  int32_t FromNumber = 0;
  std::unique_ptr<TTempFile> Temp;  // the body; null when no file could be made
  int32_t ReplyCode = 0;
  std::string Header;
  std::string BodyStart;
  int64_t Bytes = 0;
  std::exception_ptr Failure;    // why the last try failed; null after a reply
  uint32_t TimedOutAfterMs = 0;  // the time-out, when it ended the last try
};

// The transfers of a run. `Connections` threads, each with its own HTTP client set
// up like the run's client, take the submitted jobs in order, fetch each into a
// temporary file (trying again with pauses as the retry rule says, and keeping the
// pause between request starts) and keep the results until the run takes them,
// in whatever order they finished.
//
// Threads: Submit, Take and AbortAll are called by the run's sequencing thread
// (AbortAll also from any other). The fetch threads never call the host: retries
// they make are handed to Take's caller. No lock is held while a transfer waits on
// the network; each transfer has its own time-out, and AbortAll (or the run's
// abort flag) ends every one of them within a wait slice.
class TFetcher {
 public:
  TFetcher(const TClientSetup& setup, TFetchOptions options, const std::atomic<bool>& abortFlag);
  ~TFetcher();  // ends what still runs; files of results not taken are removed
  TFetcher(const TFetcher&) = delete;
  TFetcher& operator=(const TFetcher&) = delete;

  void Submit(TFetchJob job);
  // Waits for the result of a submitted number. Meanwhile, on the calling thread,
  // `retried` gets every retry notice (of any number) and `idle` runs about every
  // 10 ms when nothing else happens.
  TFetchResult Take(int32_t fromNumber, const std::function<void()>& idle,
                    const std::function<void(const TRetryNotice&)>& retried);
  // Ends every transfer at once; queued jobs end as aborted without a request.
  void AbortAll();

 private:
  bool Aborting() const { return AbortAll_.load() || AbortFlag.load(); }
  void Work(THttpClient& client);
  TFetchResult Fetch(THttpClient& client, const TFetchJob& job);
  // Waits until `until`; false when the fetcher is aborted or closing first.
  bool Sleep(std::chrono::steady_clock::time_point until);
  // Waits for this request's turn under the pause between requests.
  bool AwaitRequestTurn();
  static TFetchResult AbortedResult(int32_t fromNumber);

  const TFetchOptions Options;
  const std::atomic<bool>& AbortFlag;
  std::atomic<bool> AbortAll_{false};
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<TFetchJob> Queue;
  std::map<int32_t, TFetchResult> Results;
  std::deque<TRetryNotice> Notices;
  bool Closing = false;
  std::chrono::steady_clock::time_point NextRequest{};
  std::vector<std::unique_ptr<THttpClient>> Clients;
  std::vector<std::thread> Threads;
};

}  // namespace pellora
