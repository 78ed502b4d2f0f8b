#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pellora {

// The job as the window's fields hold it when a run starts (already validated).
struct TRunFields {
  std::string FromDir, FromFile, FromStart, FromEnd, FromMax;
  int FromDepth = 0;
  std::string ToDir, ToFile, ToStart, ToEnd, ToMax;
  int ToDepth = 0;
};

// Answers of the question after a missing file; the values are the dialog's.
enum class TErrorChoice { Skip = 1, Closed = 2, Stop = 3, IgnoreFromNowOn = 5 };

enum class TRunIcon { None, Error };

// How one number of a run ended.
enum class TStepOutcome {
  Stored,   // fetched with 200 and stored
  Missing,  // the server answered something else (the code is in the result)
  Skipped,  // the local file existed and was left alone
  Failed,   // a connection, file or unknown error; the run stops
};

struct TStepResult {
  int32_t FromNumber = 0;
  int32_t ToNumber = 0;
  std::string Url;
  std::string LocalPath;
  TStepOutcome Outcome = TStepOutcome::Stored;
  int32_t ReplyCode = 0;
  int64_t Bytes = 0;  // body bytes received
};

// A transfer that failed and is tried again after a pause.
struct TRetryNotice {
  int32_t FromNumber = 0;
  std::string Url;
  int Attempt = 0;      // the try that comes next: 2 for the first retry
  int Attempts = 0;     // tries in all (1 + retries)
  int64_t DelayMs = 0;  // the pause before it
  std::string Reason;   // why the last try failed, as the client said it
};

class TSequenceModel;

// The fields a run starts from, as the model holds them.
TRunFields RunFieldsOf(const TSequenceModel& model);

// What a run shows and asks, implemented by each front-end.
//
// Threads: `Synchronize` and `Idle` are called on the worker thread; Synchronize
// runs the call on the front-end's own (GUI) thread and returns when the call has
// finished. Every other member is called only from inside such a call, i.e. on the
// GUI thread. A front-end without a GUI thread runs the call directly.
class TRunHost {
 public:
  virtual ~TRunHost() = default;

  virtual void Synchronize(const std::function<void()>& call) = 0;
  // Called on the worker thread, outside Synchronize, about every 10 ms while the
  // run waits for a transfer. A host whose Synchronize runs calls directly (no
  // thread of its own) uses it to notice signals and keep its display going.
  virtual void Idle() {}

  virtual TRunFields ReadFields() = 0;
  virtual void SetStartCaption(const std::string& caption) = 0;
  // The gauge works in 64 bits: the range of a run may end at 2^31.
  virtual void SetGaugeRange(int64_t minimum, int64_t maximum) = 0;
  virtual void SetGaugePosition(int64_t position) = 0;
  virtual void ShowCurrentFile(const std::string& url, const std::string& localPath) = 0;
  // The reply of the last request: its header in full and the first bytes of its
  // body, as they came (the host decides how to show them as text).
  virtual void ShowReply(const std::string& header, const std::string& bodyStart) = 0;
  // False when the host never shows a body: the run then does not read it back.
  virtual bool ShowsReplyBody() const { return true; }
  virtual TErrorChoice AskAfterMissingFile(const std::string& url) = 0;
  virtual void ShowMessage(const std::string& text, const std::string& caption, TRunIcon icon) = 0;
  // The run is over: close the progress display.
  virtual void CloseProgress() = 0;
  // One number is done (called at the end of its step).
  virtual void StepFinished(const TStepResult& /*result*/) {}
  // A file is tried again after `notice.DelayMs` (shown with the current file).
  virtual void ShowRetry(const TRetryNotice& /*notice*/) {}
};

}  // namespace pellora
