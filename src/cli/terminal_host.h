#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/download/run_host.h"

namespace pellora {

class TSequenceModel;
class TThread_Operation;

// Stop requests so far, written by the signal handler only: one per Ctrl-C, two
// for SIGTERM and SIGHUP. The first stops after the current file, the second at once.
extern std::atomic<int> gInterrupts;

// Runs a download on a terminal or in a script: no GUI thread, so every
// synchronized call runs directly. On a terminal one status line is redrawn at
// most ten times a second; otherwise one line per file is printed.
class TTerminalHost : public TRunHost {
 public:
  struct TMode {
    bool StatusLine = false;  // stdout is a terminal
    bool Quiet = false;       // only the summary
    bool CanAsk = false;      // stdin is a terminal
  };

  TTerminalHost(const TSequenceModel& model, TMode mode);

  void Attach(TThread_Operation& engine) { Engine = &engine; }
  // Called between the client's wait slices: interrupts and the status line.
  void Pump();

  void Synchronize(const std::function<void()>& call) override { call(); }
  // The run waits for a transfer: signals and the status line still count.
  void Idle() override { Pump(); }
  TRunFields ReadFields() override;
  void SetStartCaption(const std::string&) override {}
  void SetGaugeRange(int64_t minimum, int64_t maximum) override;
  void SetGaugePosition(int64_t position) override;
  void ShowCurrentFile(const std::string& url, const std::string& localPath) override;
  void ShowReply(const std::string&, const std::string&) override {}
  bool ShowsReplyBody() const override { return false; }
  TErrorChoice AskAfterMissingFile(const std::string& url) override;
  void ShowMessage(const std::string& text, const std::string& caption, TRunIcon icon) override;
  void CloseProgress() override;
  void StepFinished(const TStepResult& result) override;
  void ShowRetry(const TRetryNotice& notice) override;

 private:
  void CheckInterrupts();
  void DrawStatus(bool force);
  void ClearStatus();

  const TSequenceModel& Model;
  TMode Mode;
  TThread_Operation* Engine = nullptr;
  int HandledInterrupts = 0;

  int64_t Minimum = 0;
  int64_t Maximum = 0;
  int64_t Position = 0;
  int64_t DoneBytes = 0;  // body bytes of the finished numbers
  std::string CurrentUrl;
  std::chrono::steady_clock::time_point Started;
  std::chrono::steady_clock::time_point LastDraw;
  bool StatusShown = false;
};

// "1.5 MiB", "512 B".
std::string FormatBytes(int64_t bytes);
// "01:05", "1:02:03".
std::string FormatDuration(int64_t seconds);

}  // namespace pellora
