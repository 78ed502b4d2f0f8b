#include "core/download/fetcher.h"

#include "core/download/retry_policy.h"
#include "core/download/run_names.h"
#include "core/net/http_client.h"
#include "core/net/tls_channel.h"
#include "core/platform/file_system.h"

namespace pellora {

namespace {

// The status line of a reply header, for saying why a try is repeated.
std::string StatusLine(const std::string& header) {
  std::string line = header.substr(0, header.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

TClientSetup TClientSetup::Of(const THttpClient& client) {
  return {client.Proxy, client.ProxyPort, client.TimeOut, client.HeaderInfo, client.TlsCaFile};
}

void TClientSetup::ApplyTo(THttpClient& client) const {
  client.Proxy = Proxy;
  client.ProxyPort = ProxyPort;
  client.TimeOut = TimeOut;
  client.HeaderInfo = HeaderInfo;
  client.TlsCaFile = TlsCaFile;
  client.InputFileMode = true;
  client.OutputFileMode = false;
}

TFetcher::TFetcher(const TClientSetup& setup, TFetchOptions options,
                   const std::atomic<bool>& abortFlag)
    : Options(options), AbortFlag(abortFlag) {
  const int count = std::max(options.Connections, 1);
  for (int i = 0; i < count; ++i) {
    auto client = std::make_unique<THttpClient>();
    setup.ApplyTo(*client);
    // With several connections each keeps its server connection between files
    // where the server allows it: a file then costs one round trip, not two.
    client->KeepConnection = count > 1;
    THttpClient* raw = client.get();
    client->OnPump = [this, raw] {
      if (Aborting()) raw->Abort();
    };
    Clients.push_back(std::move(client));
  }
  for (const auto& client : Clients) {
    Threads.emplace_back([this, raw = client.get()] { Work(*raw); });
  }
}

TFetcher::~TFetcher() {
  {
    std::lock_guard lock(Mutex);
    Closing = true;
    AbortAll_ = true;
  }
  Changed.notify_all();
  for (std::thread& thread : Threads) thread.join();
}

void TFetcher::Submit(TFetchJob job) {
  {
    std::lock_guard lock(Mutex);
    if (Aborting()) {
      Results[job.FromNumber] = AbortedResult(job.FromNumber);
    } else {
      Queue.push_back(std::move(job));
    }
  }
  Changed.notify_all();
}

TFetchResult TFetcher::Take(int32_t fromNumber, const std::function<void()>& idle,
                            const std::function<void(const TRetryNotice&)>& retried) {
  for (;;) {
    std::deque<TRetryNotice> notices;
    {
      std::unique_lock lock(Mutex);
      Changed.wait_for(lock, std::chrono::milliseconds(10),
                       [&] { return Results.count(fromNumber) > 0 || !Notices.empty(); });
      notices.swap(Notices);
      if (notices.empty()) {
        if (const auto found = Results.find(fromNumber); found != Results.end()) {
          TFetchResult result = std::move(found->second);
          Results.erase(found);
          return result;
        }
      }
    }
    if (AbortFlag.load() && !AbortAll_.load()) AbortAll();
    for (const TRetryNotice& notice : notices) {
      if (retried) retried(notice);
    }
    if (notices.empty() && idle) idle();
  }
}

void TFetcher::AbortAll() {
  {
    std::lock_guard lock(Mutex);
    AbortAll_ = true;
    for (const TFetchJob& job : Queue) Results[job.FromNumber] = AbortedResult(job.FromNumber);
    Queue.clear();
  }
  Changed.notify_all();
}

TFetchResult TFetcher::AbortedResult(int32_t fromNumber) {
  TFetchResult result;
  result.FromNumber = fromNumber;
  result.Failure = std::make_exception_ptr(EAbortError("Socket send aborted"));
  return result;
}

void TFetcher::Work(THttpClient& client) {
  for (;;) {
    TFetchJob job;
    {
      std::unique_lock lock(Mutex);
      Changed.wait(lock, [&] { return Closing || !Queue.empty(); });
      if (Closing) return;
      job = std::move(Queue.front());
      Queue.pop_front();
    }
    TFetchResult result = Fetch(client, job);
    {
      std::lock_guard lock(Mutex);
      Results[job.FromNumber] = std::move(result);
    }
    Changed.notify_all();
  }
}

bool TFetcher::Sleep(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(Mutex);
  while (!Closing && !Aborting()) {
    // Short slices: the run's abort flag is not a condition anybody notifies.
    const auto slice =
        std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(10));
    if (Changed.wait_until(lock, slice) == std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= until) {
      return true;
    }
  }
  return false;
}

bool TFetcher::AwaitRequestTurn() {
  if (Options.RequestIntervalMs <= 0) return !Aborting();
  std::chrono::steady_clock::time_point turn;
  {
    std::lock_guard lock(Mutex);
    turn = std::max(std::chrono::steady_clock::now(), NextRequest);
    NextRequest = turn + std::chrono::milliseconds(Options.RequestIntervalMs);
  }
  return Sleep(turn);
}

TFetchResult TFetcher::Fetch(THttpClient& client, const TFetchJob& job) {
  TFetchResult result;
  result.FromNumber = job.FromNumber;
  try {
    result.Temp = std::make_unique<TTempFile>(
        job.TempTarget,
        job.CheckTarget ? TTempFile::TTargetCheck::RefuseReadOnly : TTempFile::TTargetCheck::None);
  } catch (...) {
    result.Failure = std::current_exception();
    return result;
  }
  client.Body = result.Temp->Path();
  const int attempts = 1 + std::max(Options.Retries, 0);
  for (int attempt = 1;; ++attempt) {
    if (!AwaitRequestTurn()) return AbortedResult(job.FromNumber);
    std::string reason;
    result.Failure = nullptr;
    result.TimedOutAfterMs = 0;
    try {
      client.Get(RequestUrl(job.Url));
      result.ReplyCode = client.ReplyCode;
      result.Header = client.Header;
      result.Bytes = client.ReceivedCount;
      if (!IsRetriableReply(client.ReplyCode) || attempt >= attempts) break;
      reason = StatusLine(client.Header);
    } catch (const ECertificateError&) {
      result.Failure = std::current_exception();  // no other try makes it valid
      break;
    } catch (const ESockError& error) {
      result.Failure = std::current_exception();
      result.TimedOutAfterMs = client.TimedOut() ? client.TimeOut : 0;
      result.ReplyCode = 0;
      result.Header.clear();
      if (Aborting() || attempt >= attempts) break;
      reason = error.what();
    } catch (...) {
      result.Failure = std::current_exception();
      break;
    }
    const auto delay = RetryDelay(attempt + 1, result.Failure ? std::string() : client.Header,
                                  std::chrono::system_clock::now());
    {
      std::lock_guard lock(Mutex);
      Notices.push_back({job.FromNumber, job.Url, attempt + 1, attempts,
                         static_cast<int64_t>(delay.count()), reason});
    }
    Changed.notify_all();
    if (!Sleep(std::chrono::steady_clock::now() + delay)) return AbortedResult(job.FromNumber);
  }
  if (!result.Failure && Options.KeepBodyStart) {
    try {
      result.BodyStart = ReadFilePrefix(result.Temp->Path(), kBodyPreviewBytes);
    } catch (const EFileError&) {
      // The display goes without the start of the body; the file itself is fine.
    }
  }
  return result;
}

}  // namespace pellora
