// pellora-cli: runs a Pellora download job without a display.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_host.h"
#include "core/download/run_names.h"
#include "core/download/run_start.h"
#include "core/download/thread_operation.h"
#include "core/net/http_client.h"
#include "core/platform/file_system.h"
#include "core/platform/store_location.h"
#include "core/platform/version_info.h"
#include "core/sequence/int_conversion.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/ini_store.h"
#include "core/settings/registry_settings.h"
#include "core/settings/settings_file.h"

namespace pellora {
namespace {

constexpr int kExitStored = 0;
constexpr int kExitMissing = 1;
constexpr int kExitStopped = 2;
constexpr int kExitUsage = 64;

// The program's message boxes become "[caption] text" on the error stream.
void PrintMessage(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
}

void OnInterrupt(int) {
  gInterrupts.fetch_add(1);
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a question waiting for input ends too
  sigaction(SIGINT, &action, nullptr);
}

bool AskYesNo(const std::string& text, const std::string& caption, bool yes) {
  PrintMessage(text, caption);
  if (yes) return true;
  if (!::isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "(not on a terminal: use --yes to create it)\n");
    return false;
  }
  std::fprintf(stderr, "[y/N] ");
  std::fflush(stderr);
  std::string answer;
  return std::getline(std::cin, answer) && (answer == "y" || answer == "Y" || answer == "yes");
}

// Loads the job and the overrides; false (after saying why) on bad input.
bool LoadJob(const TCliOptions& options, TSettings& settings, TSequenceModel& model) {
  if (options.JobFile.empty()) {
    LoadRegistrySettings(TIniStoreReader::FromFile(PerUserStorePath()), settings, model);
  } else {
    try {
      LoadSettingsFile(options.JobFile, settings, model);
    } catch (const EFileError& error) {
      PrintMessage("設定ファイル \"" + options.JobFile + "\" を読み込めませんでした。\n" +
                       DescribeFileError(error.Error),
                   "設定ファイル");
      return false;
    } catch (const ESettingsValueError& error) {
      PrintMessage("設定ファイル \"" + options.JobFile + "\" の " + std::to_string(error.Line) +
                       " 行目: " + error.Key + " の値 \"" + error.Value +
                       "\" が整数ではありません。",
                   "整数エラー");
      return false;
    }
  }
  model.EnableToFields();
  for (const std::string& set : options.Sets) {
    const std::string key = set.substr(0, set.find('='));
    try {
      if (!ApplySettingsLine(set, settings, model)) {
        std::fprintf(stderr, "pellora-cli: unknown setting '%s' (see --help)\n", key.c_str());
        return false;
      }
    } catch (const EConvertError&) {
      std::fprintf(stderr, "pellora-cli: %s needs an integer value\n", key.c_str());
      return false;
    }
  }
  model.InputError = 0;
  model.FromChange();
  model.ToChange();
  return model.InputError == 0;
}

void PrintPreview(const TSequenceModel& model) {
  std::printf("From 始点: %s\nFrom 終点: %s\nTo 始点: %s\nTo 終点: %s\n",
              model.From().PreStart.c_str(), model.From().PreEnd.c_str(),
              model.To().PreStart.c_str(), model.To().PreEnd.c_str());
}

// Every URL and local path of the run, as if no file were missing.
int PrintList(TSequenceModel& model, const TSettings& settings) {
  model.InputError = 0;
  model.NormalizeNumberFields();
  model.CheckFileInt();
  if (model.InputError == 0) model.CheckFileValue();
  if (model.InputError != 0) return kExitUsage;
  const TRunFields fields = RunFieldsOf(model);
  const TRunNames names = TRunNames::FromFields(fields, settings.AutoSlash);
  const int32_t fromStart = StrToInt(fields.FromStart);
  const int32_t fromEnd = StrToInt(fields.FromEnd);
  int32_t toNumber = StrToInt(fields.ToStart);
  for (int64_t number = fromStart; number <= fromEnd; ++number) {
    const TStepNames step = names.Names(static_cast<int32_t>(number), toNumber);
    std::printf("%s\t%s\n", RequestUrl(step.Url).c_str(), step.LocalPath.c_str());
    toNumber = WrapAdd(toNumber, 1);
  }
  return std::fflush(stdout) == 0 ? kExitStored : kExitStopped;
}

int Run(const TCliOptions& options, TSettings& settings, TSequenceModel& model) {
  const TStartDialogs dialogs{PrintMessage,
                              [&](const std::string& text, const std::string& caption) {
                                return AskYesNo(text, caption, options.Yes);
                              }};
  if (!PrepareRunStart(model, dialogs)) return kExitUsage;

  THttpClient client;
  ApplyClientSettings(settings, client);
  client.TimeOut = static_cast<uint32_t>(std::max(settings.TimeOut, 0));
  client.InputFileMode = true;
  client.OutputFileMode = false;

  TTerminalHost::TMode mode;
  mode.StatusLine = ::isatty(STDOUT_FILENO) != 0;
  mode.Quiet = options.Quiet;
  mode.CanAsk = ::isatty(STDIN_FILENO) != 0;
  TTerminalHost host(client, model, mode);
  TThread_Operation engine(host, client, settings);
  host.Attach(engine);
  client.OnPump = [&host] { host.Pump(); };
  InstallInterruptHandler();
  engine.Execute();

  if (engine.EndReason != TRunEnd::Finished) return kExitStopped;
  return engine.MissingCount > 0 ? kExitMissing : kExitStored;
}

int Main(int argc, char** argv) {
  std::string error;
  const std::optional<TCliOptions> options =
      ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "pellora-cli: %s\nTry 'pellora-cli --help'.\n", error.c_str());
    return kExitUsage;
  }
  if (options->Help) {
    std::fputs(CliUsage().c_str(), stdout);
    return kExitStored;
  }
  if (options->Version) {
    std::printf("pellora-cli %s\n", ProductVersion().c_str());
    return kExitStored;
  }

  TSettings settings;
  TSequenceModel model(settings);
  model.SetMessageHandler(PrintMessage);
  if (!LoadJob(*options, settings, model)) return kExitUsage;
  if (options->Preview) {
    PrintPreview(model);
    return kExitStored;
  }
  if (options->List) return PrintList(model, settings);
  return Run(*options, settings, model);
}

}  // namespace
}  // namespace pellora

int main(int argc, char** argv) {
  return pellora::Main(argc, argv);
}
