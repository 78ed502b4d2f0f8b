#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "core/download/run_host.h"
#include "core/download/run_names.h"
#include "core/platform/temp_file.h"
#include "core/settings/settings.h"

namespace pellora {

class THttpClient;

// The start of a reply body that a progress display shows.
inline constexpr size_t kBodyPreviewBytes = 64 * 1024;

// Why a run ended.
enum class TRunEnd {
  Finished,         // every number was tried
  StoppedByUser,    // a stop was asked for (stop button, error dialog, interrupt)
  ConnectionError,  // a connection, a time-out or a secure channel failed
  FileError,        // a file could not be stored
  UnknownError,     // anything else, such as an address the client cannot use
};

// One download run: fetches every number of the From range in turn and stores it
// under its local name. The worker thread only sequences the run; each file is
// fetched and stored by one synchronized call on the host's thread, which owns
// the HTTP client and the settings.
class TThread_Operation {
 public:
  // `settings` is read (and ShowCaution cleared) only inside synchronized calls.
  TThread_Operation(TRunHost& host, THttpClient& client, TSettings& settings);
  ~TThread_Operation();  // joins the worker thread
  TThread_Operation(const TThread_Operation&) = delete;
  TThread_Operation& operator=(const TThread_Operation&) = delete;

  // Starts the worker thread; `onFinished` is called on it as its very last act.
  void Start(std::function<void()> onFinished = {});
  // Runs the whole run on the calling thread.
  void Execute();
  void Join();

  // Asks the run to stop after the current file. Any thread.
  void Terminate() { TerminateRequested.store(true); }
  // Stops the run at once: the transfer in flight is abandoned and its file
  // removed. On the host's thread only, e.g. from the client's pump hook.
  void Abort();
  bool Terminated() const { return TerminateRequested.load(); }
  bool Finished() const { return Done.load(); }

  // The outcome, valid once the run is over.
  int32_t DownloadCount = 0;
  int32_t MissingCount = 0;  // requests answered with something other than 200
  int32_t SkippedCount = 0;  // numbers whose local file existed
  bool StoppedEarly = false;
  TRunEnd EndReason = TRunEnd::Finished;
  std::string ResultText;
  std::string ResultCaption;

 private:
  bool SetUp();
  void FileStep();
  // Steps 8 to 13 of a number: fetch, store, ask, count.
  TStepOutcome Transfer(const TStepNames& names);
  // Ends the run after a failed step. Called from an exception handler: the
  // exception handled tells why the run ends.
  void StepFailed(const std::string& text, const std::string& caption);
  void StoreFailed(const std::string& localPath, int error);
  void CreateLocalFolders(const std::string& folderPath);
  void MakeSummary();

  TRunHost& Host;
  THttpClient& Client;
  TSettings& Settings;
  std::thread Worker;
  std::atomic<bool> TerminateRequested{false};
  std::atomic<bool> AbortRequested{false};
  std::atomic<bool> Done{false};

  int32_t FromStart = 0, FromEnd = 0, ToStart = 0, ToEnd = 0;
  TRunNames Naming;
  int32_t FromNumber = 0;
  int32_t ToNumber = 0;
  bool LastFailed = false;
  std::string LastToFolder;
  TTempLeftovers Leftovers;  // of killed runs, removed as their files are stored
};

}  // namespace pellora
