#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include <set>

#include "core/download/fetcher.h"
#include "core/download/run_host.h"
#include "core/download/run_names.h"
#include "core/platform/temp_file.h"
#include "core/settings/settings.h"

namespace pellora {

class THttpClient;

// Why a run ended.
enum class TRunEnd {
  Finished,         // every number was tried
  StoppedByUser,    // a stop was asked for (stop button, error dialog, interrupt)
  ConnectionError,  // a connection, a time-out or a secure channel failed
  FileError,        // a file could not be stored
  UnknownError,     // anything else, such as an address the client cannot use
};

// One download run: fetches every number of the From range and stores each under
// its local name, strictly in From order.
//
// Threads:
// - The worker thread (Start; or the caller of Execute) sequences the run. For the
//   number whose turn it is it shows the current file, waits for its transfer and
//   stores it, each through the host's Synchronize; while it waits it calls the
//   host's Idle and shows retries.
// - The fetch threads of a TFetcher (one per connection, Settings.Connections)
//   transfer up to that many numbers ahead of the one being stored, each with its
//   own HTTP client set up like `client`, into temporary files; they never call
//   the host. With one connection only the number whose turn it is is fetched, so
//   a run does what it always did, one file after the other.
// - The host's thread runs every synchronized call: it owns `client` (whose setup
//   the fetch clients copy at the start of each run; they keep what redirects give
//   them, such as a cookie, for that run only) and the settings.
// So numbering, closing up over missing files, skipping, questions, the progress
// display and the summary never depend on which transfer finished first. A stop
// (Terminate) takes effect after the number being stored; what was fetched ahead
// of it is discarded and its files removed.
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
  // Stops the run at once: the transfers in flight are abandoned and their files
  // removed. Any thread.
  void Abort();
  bool Terminated() const { return TerminateRequested.load(); }
  bool Finished() const { return Done.load(); }

  // The outcome, valid once the run is over.
  int32_t DownloadCount = 0;
  int32_t MissingCount = 0;   // requests answered with something other than 200
  int32_t SkippedCount = 0;   // numbers whose local file existed
  bool StoppedEarly = false;  // a stop or an error ended the run before its end
  TRunEnd EndReason = TRunEnd::Finished;
  std::string ResultText;
  std::string ResultCaption;

 private:
  bool SetUp();
  // Every number in turn, until the end, a stop or too many missing in a row.
  void Sequence(TFetcher& fetcher);
  // Hands one number to the fetch threads, unless it is to be skipped.
  void SubmitAhead(TFetcher& fetcher, int32_t number);
  // One number: show it, wait for its transfer, store it, count it.
  void FileStep(TFetcher& fetcher);
  // Stores a fetched file, asks after a missing one, counts (synchronized).
  TStepOutcome Commit(const TStepNames& names, TFetchResult& fetched);
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
  std::string LastSubmitFolder;
  // What the run reads from the settings at its start.
  TClientSetup ClientSetup;
  TFetchOptions FetchOptions;
  int32_t StopAfterMissing = 0;
  bool SkipExisting = false;
  bool PackNumbers = false;
  int64_t NextToSubmit = 0;
  std::set<int32_t> Submitted;  // handed to the fetcher and not yet taken
  int32_t MissingInARow = 0;
  bool EndedByMissingRun = false;
  TTempLeftovers Leftovers;  // of killed runs, removed as their files are stored
};

}  // namespace pellora
