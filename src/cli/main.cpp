// pellora-cli: runs a Pellora download job without a display.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_host.h"
#include "core/download/run_names.h"
#include "core/download/run_start.h"
#include "core/download/thread_operation.h"
#include "core/net/http_client.h"
#include "core/platform/file_system.h"
#include "core/platform/store_location.h"
#include "core/platform/unique_fd.h"
#include "core/platform/version_info.h"
#include "core/sequence/int_conversion.h"
#include "core/sequence/sequence_model.h"
#include "core/settings/ini_store.h"
#include "core/settings/registry_settings.h"
#include "core/settings/settings_file.h"
#include "core/settings/settings_keys.h"

namespace pellora {
namespace {

constexpr int kExitStored = 0;
constexpr int kExitMissing = 1;
constexpr int kExitStopped = 2;
constexpr int kExitNetwork = 3;
constexpr int kExitFile = 4;
constexpr int kExitUsage = 64;

constexpr char kPasswordVariable[] = "PELLORA_PASSWORD";
constexpr size_t kMaxPasswordFileSize = 64 * 1024;

// The program's message boxes become "[caption] text" on the error stream.
void PrintMessage(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
}

void OnStopSignal(int signal) {
  // Ctrl-C asks to stop after the current file; a second one, or a request to
  // end the program, stops at once.
  gInterrupts.fetch_add(signal == SIGINT ? 1 : 2);
}

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a question waiting for input ends too
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// A closed output and a file-size limit make writes fail with a reason the run
// reports, instead of ending the program in the middle of a file.
void IgnoreWriteSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
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

// The words a flag takes on the command line, in any case.
std::optional<bool> ParseFlagWord(std::string word) {
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* yes : {"true", "1", "yes", "on"}) {
    if (word == yes) return true;
  }
  for (const char* no : {"false", "0", "no", "off"}) {
    if (word == no) return false;
  }
  return std::nullopt;
}

// One --set override, applied as the edit of that field or option would be;
// false (after saying why) when it cannot be.
bool ApplyOverride(const std::string& set, TSettings& settings, TSequenceModel& model) {
  const TSettingsLine line = *SplitSettingsLine(set);
  const std::string name(line.Key);
  std::string value(line.Value);
  const TSettingKey* key = FindSettingKey(name);
  if (!key) {
    std::fprintf(stderr, "pellora-cli: unknown setting '%s' (see --keys)\n", name.c_str());
    return false;
  }
  if (key->Kind() == TSettingKind::Flag) {
    const std::optional<bool> flag = ParseFlagWord(value);
    if (!flag) {
      std::fprintf(stderr,
                   "pellora-cli: %s takes true or false (or 1/0, yes/no, on/off), not '%s'\n",
                   name.c_str(), value.c_str());
      return false;
    }
    value = *flag ? "true" : "false";
  }
  const TSettings before = settings;
  try {
    ApplySettingValue(*key, value, settings, model);
  } catch (const EConvertError&) {
    std::fprintf(stderr, "pellora-cli: %s needs an integer value, not '%s'\n", name.c_str(),
                 value.c_str());
    return false;
  }
  // A link option takes effect as when the options dialog confirms it: the linked
  // To fields follow the From side from then on.
  if (settings.FileSync != before.FileSync || settings.NumSync != before.NumSync ||
      settings.NumPack != before.NumPack) {
    model.EnableToFieldsWithLinks();
    model.FromChange();
    model.ToChange();
  }
  return true;
}

// The first line of a password file. Any readable file will do, also a pipe
// ("--password-file <(...)").
std::optional<std::string> ReadPasswordFile(const std::string& path) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  int error = fd.Get() < 0 ? errno : 0;
  std::string content;
  char buffer[4096];
  while (error == 0 && content.size() <= kMaxPasswordFileSize) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  if (error != 0) {
    std::fprintf(stderr, "pellora-cli: cannot read the password file %s: %s\n", path.c_str(),
                 DescribeFileError(error).c_str());
    return std::nullopt;
  }
  return content.substr(0, content.find_first_of("\r\n"));
}

// The password from the places that other users cannot read.
bool ApplySecretPassword(const TCliOptions& options, TSettings& settings) {
  const char* variable = std::getenv(kPasswordVariable);
  if (variable && *variable) settings.Password = variable;
  if (options.PasswordFile.empty()) return true;
  const std::optional<std::string> password = ReadPasswordFile(options.PasswordFile);
  if (password) settings.Password = *password;
  return password.has_value();
}

// Loads the job as the window holds it, then the password and the overrides;
// false (after saying why) on input that cannot be loaded.
bool LoadJob(const TCliOptions& options, TSettings& settings, TSequenceModel& model) {
  if (options.JobFile.empty()) {
    // As the window starts: the stored job, then both sides evaluated once.
    LoadRegistrySettings(TIniStoreReader::FromFile(PerUserStorePath()), settings, model);
    model.EnableToFields();
    model.FromChange();
    model.ToChange();
  } else {
    // As the window opens a job file: its start-up evaluation first, then the
    // file's lines in order and nothing else, so that the To fields keep what the
    // file gives them.
    model.EnableToFields();
    model.FromChange();
    model.ToChange();
    try {
      LoadSettingsFile(options.JobFile, settings, model);
    } catch (const EFileError& error) {
      PrintMessage(DescribeSettingsFileReadError(error), "設定ファイル");
      return false;
    } catch (const ESettingsValueError& error) {
      PrintMessage(DescribeSettingsValueError(options.JobFile, error), "整数エラー");
      return false;
    }
  }
  if (!ApplySecretPassword(options, settings)) return false;
  for (const std::string& set : options.Sets) {
    if (!ApplyOverride(set, settings, model)) return false;
  }
  return true;
}

// One message for each field whose text the rules refuse; false if there was one.
bool CheckFields(const TSequenceModel& model) {
  bool ok = true;
  for (const TSettingKey& key : SettingKeys()) {
    const TFieldId* field = std::get_if<TFieldId>(&key.Target);
    if (!field) continue;
    const std::string& text = model.Text(*field);
    if (const std::optional<TFieldError> error = TSequenceModel::FieldError(*field, text)) {
      PrintMessage(std::string(key.Name) + " = " + text + "\n" + error->Text, error->Caption);
      ok = false;
    }
  }
  return ok;
}

void PrintPreview(const TSequenceModel& model) {
  std::printf("From 始点: %s\nFrom 終点: %s\nTo 始点: %s\nTo 終点: %s\n",
              model.From().PreStart.c_str(), model.From().PreEnd.c_str(),
              model.To().PreStart.c_str(), model.To().PreEnd.c_str());
}

void PrintKeys(const TSettings& settings, const TSequenceModel& model) {
  for (const TSettingKey& key : SettingKeys()) {
    std::string value = SettingValue(key, settings, model);
    // Output ends up in logs and terminals that others see.
    const auto* text = std::get_if<std::string TSettings::*>(&key.Target);
    if (text && *text == &TSettings::Password) value = settings.Password.empty() ? "" : "(hidden)";
    std::printf("%s = %s\n    %s\n", key.Name, value.c_str(), key.Meaning);
  }
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
    // A reader that has gone (`| head`) ends the list.
    if (std::printf("%s\t%s\n", RequestUrl(step.Url).c_str(), step.LocalPath.c_str()) < 0) break;
    toNumber = WrapAdd(toNumber, 1);
  }
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitStored : kExitFile;
}

int ExitStatusOf(const TThread_Operation& engine) {
  switch (engine.EndReason) {
    case TRunEnd::Finished:
      return engine.MissingCount > 0 ? kExitMissing : kExitStored;
    case TRunEnd::StoppedByUser:
      return kExitStopped;
    case TRunEnd::ConnectionError:
      return kExitNetwork;
    case TRunEnd::FileError:
      return kExitFile;
    case TRunEnd::UnknownError:
      break;
  }
  return kExitUsage;  // in practice a From address the client cannot use
}

int Run(const TCliOptions& options, TSettings& settings, TSequenceModel& model) {
  bool creatingFolder = false;
  const TStartDialogs dialogs{PrintMessage,
                              [&](const std::string& text, const std::string& caption) {
                                creatingFolder = AskYesNo(text, caption, options.Yes);
                                return creatingFolder;
                              }};
  // Once the folder was to be created, only its creation can have failed.
  if (!PrepareRunStart(model, dialogs)) return creatingFolder ? kExitFile : kExitUsage;

  THttpClient client;
  ApplyClientSettings(settings, client);
  client.TimeOut = static_cast<uint32_t>(std::max(settings.TimeOut, 0));
  client.InputFileMode = true;
  client.OutputFileMode = false;

  TTerminalHost::TMode mode;
  mode.StatusLine = ::isatty(STDOUT_FILENO) != 0;
  mode.Quiet = options.Quiet;
  mode.CanAsk = ::isatty(STDIN_FILENO) != 0;
  TTerminalHost host(model, mode);
  TThread_Operation engine(host, client, settings);
  host.Attach(engine);
  InstallStopSignalHandlers();
  engine.Execute();

  // The status line does not show missing files: the counts close the run.
  std::printf("stored %d, skipped %d, missing %d\n", engine.DownloadCount, engine.SkippedCount,
              engine.MissingCount);
  std::fflush(stdout);
  return ExitStatusOf(engine);
}

int Main(int argc, char** argv) {
  IgnoreWriteSignals();
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
  // The rules would report a bad field at every edit while the job loads; each
  // is reported once, by CheckFields.
  if (!LoadJob(*options, settings, model)) return kExitUsage;
  if (options->Keys) {
    PrintKeys(settings, model);
    return kExitStored;
  }
  if (!CheckFields(model)) return kExitUsage;
  model.SetMessageHandler(PrintMessage);
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
