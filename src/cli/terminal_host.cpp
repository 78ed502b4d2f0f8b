#include "cli/terminal_host.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "core/download/thread_operation.h"

namespace pellora {

std::atomic<int> gInterrupts{0};

namespace {

using Clock = std::chrono::steady_clock;

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

// Cuts a UTF-8 text to at most `columns` characters, keeping its end (the
// interesting part of a URL), without splitting a character.
std::string KeepEnd(const std::string& text, size_t columns) {
  size_t characters = 0;
  for (unsigned char c : text) characters += (c & 0xC0) != 0x80;
  if (characters <= columns) return text;
  size_t drop = characters - columns + 1;
  size_t pos = 0;
  while (pos < text.size() && drop > 0) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
    --drop;
  }
  return "…" + text.substr(pos);
}

}  // namespace

std::string FormatBytes(int64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatDuration(int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

TTerminalHost::TTerminalHost(const TSequenceModel& model, TMode mode)
    : Model(model), Mode(mode), Started(Clock::now()) {}

TRunFields TTerminalHost::ReadFields() {
  return RunFieldsOf(Model);
}

void TTerminalHost::Pump() {
  CheckInterrupts();
  DrawStatus(false);
}

void TTerminalHost::CheckInterrupts() {
  const int interrupts = gInterrupts.load();
  if (interrupts == HandledInterrupts) return;
  HandledInterrupts = interrupts;
  if (!Engine) return;
  Engine->Terminate();                   // the first: stop after the current file
  if (interrupts >= 2) Engine->Abort();  // the second: end the transfer now
}

void TTerminalHost::SetGaugeRange(int64_t minimum, int64_t maximum) {
  Minimum = minimum;
  Maximum = maximum;
  Started = Clock::now();
}

void TTerminalHost::SetGaugePosition(int64_t position) {
  Position = position;
}

void TTerminalHost::ShowCurrentFile(const std::string& url, const std::string&) {
  CurrentUrl = url;
  CheckInterrupts();
  DrawStatus(false);
}

void TTerminalHost::DrawStatus(bool force) {
  if (!Mode.StatusLine || Mode.Quiet) return;
  const Clock::time_point now = Clock::now();
  if (!force && StatusShown && now - LastDraw < std::chrono::milliseconds(100)) return;
  LastDraw = now;

  const int64_t total = std::max<int64_t>(Maximum - Minimum, 0);
  const int64_t done = std::clamp<int64_t>(Position - Minimum, 0, total);
  // Files are counted when stored: the transfers run on clients of their own.
  const int64_t bytes = DoneBytes;
  const double seconds = std::chrono::duration<double>(now - Started).count();
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
  std::string line = "[" + std::to_string(done + 1 > total ? total : done + 1) + "/" +
                     std::to_string(total) + "] " + std::to_string(percent) + "% ";
  std::string tail = "  " + FormatBytes(bytes);
  if (seconds > 0.5) tail += " " + FormatBytes(static_cast<int64_t>(bytes / seconds)) + "/s";
  tail += " " + FormatDuration(static_cast<int64_t>(seconds));
  if (done > 0 && done < total) {
    tail += " ETA " + FormatDuration(static_cast<int64_t>(seconds * (total - done) / done));
  }
  const int width = TerminalWidth() - 1;
  const int room = width - static_cast<int>(line.size() + tail.size());
  line += KeepEnd(CurrentUrl, room > 10 ? static_cast<size_t>(room) : 10) + tail;
  std::fprintf(stdout, "\r%s\x1b[K", line.c_str());
  std::fflush(stdout);
  StatusShown = true;
}

void TTerminalHost::ClearStatus() {
  if (!StatusShown) return;
  std::fprintf(stdout, "\r\x1b[K");
  std::fflush(stdout);
  StatusShown = false;
}

TErrorChoice TTerminalHost::AskAfterMissingFile(const std::string& url) {
  if (!Mode.CanAsk) return TErrorChoice::Skip;
  ClearStatus();
  std::fprintf(stderr,
               "%s\nFromのファイルが読み取れませんでした。ダウンロードを続行しますか？\n"
               "  [s] このファイルを飛ばして続行  [q] ダウンロードを中止  "
               "[i] 今後、エラーを無視する\n> ",
               url.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::cin.clear();
    return gInterrupts.load() > 0 ? TErrorChoice::Stop : TErrorChoice::Closed;
  }
  if (answer == "q" || answer == "Q") return TErrorChoice::Stop;
  if (answer == "i" || answer == "I") return TErrorChoice::IgnoreFromNowOn;
  return TErrorChoice::Skip;
}

void TTerminalHost::ShowMessage(const std::string& text, const std::string& caption,
                                TRunIcon icon) {
  ClearStatus();
  // Errors go to the error stream; the summary is the run's result.
  FILE* out = icon == TRunIcon::Error ? stderr : stdout;
  std::fprintf(out, "[%s] %s\n", caption.c_str(), text.c_str());
  std::fflush(out);
}

void TTerminalHost::CloseProgress() {
  ClearStatus();
}

void TTerminalHost::StepFinished(const TStepResult& result) {
  DoneBytes += result.Bytes;
  CheckInterrupts();
  if (Mode.Quiet) return;
  if (Mode.StatusLine) {
    DrawStatus(false);
    return;
  }
  switch (result.Outcome) {
    case TStepOutcome::Stored:
      std::printf("stored  %s -> %s (%lld bytes)\n", result.Url.c_str(), result.LocalPath.c_str(),
                  static_cast<long long>(result.Bytes));
      break;
    case TStepOutcome::Missing:
      std::printf("missing %s (%d)\n", result.Url.c_str(), result.ReplyCode);
      break;
    case TStepOutcome::Skipped:
      std::printf("skipped %s (exists)\n", result.LocalPath.c_str());
      break;
    case TStepOutcome::Failed:
      std::printf("failed  %s\n", result.Url.c_str());
      break;
  }
  std::fflush(stdout);
}

}  // namespace pellora

namespace pellora {

void TTerminalHost::ShowRetry(const TRetryNotice& notice) {
  CheckInterrupts();
  if (Mode.Quiet) return;
  ClearStatus();  // a line of its own, also on a terminal
  std::printf("retry   %s (try %d of %d in %lld s: %s)\n", notice.Url.c_str(), notice.Attempt,
              notice.Attempts, static_cast<long long>((notice.DelayMs + 999) / 1000),
              notice.Reason.c_str());
  std::fflush(stdout);
  DrawStatus(true);
}

}  // namespace pellora
