#include "cli/cli_options.h"

namespace pellora {

std::optional<TCliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                           std::string& error) {
  TCliOptions options;
  bool onlyFiles = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!onlyFiles && arg == "--") {
      onlyFiles = true;
    } else if (!onlyFiles && (arg == "--set" || arg.starts_with("--set="))) {
      std::string value;
      if (arg == "--set") {
        if (i + 1 == args.size()) {
          error = "--set needs KEY=VALUE";
          return std::nullopt;
        }
        value = args[++i];
      } else {
        value = arg.substr(6);
      }
      if (value.find('=') == std::string::npos) {
        error = "--set needs KEY=VALUE, not '" + value + "'";
        return std::nullopt;
      }
      options.Sets.push_back(value);
    } else if (!onlyFiles && (arg == "-y" || arg == "--yes")) {
      options.Yes = true;
    } else if (!onlyFiles && arg == "--list") {
      options.List = true;
    } else if (!onlyFiles && arg == "--preview") {
      options.Preview = true;
    } else if (!onlyFiles && (arg == "-q" || arg == "--quiet")) {
      options.Quiet = true;
    } else if (!onlyFiles && (arg == "-h" || arg == "--help")) {
      options.Help = true;
    } else if (!onlyFiles && arg == "--version") {
      options.Version = true;
    } else if (!onlyFiles && arg.size() > 1 && arg[0] == '-') {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    } else if (options.JobFile.empty()) {
      options.JobFile = arg;
    } else {
      error = "only one job file may be given";
      return std::nullopt;
    }
  }
  if (options.List && options.Preview) {
    error = "--list and --preview exclude each other";
    return std::nullopt;
  }
  return options;
}

std::string CliUsage() {
  return R"(Usage: pellora-cli [OPTIONS] [JOB.pel]

Downloads a run of numbered files as the job describes: from the settings file
JOB.pel, or without one the job and options that Pellora keeps for this user.

Options:
  --set KEY=VALUE  override one setting; KEY is any settings-file key
                   (St_TimeOut, Fr_BaseDir, Fr_FileName, Fr_StartPoint, ...);
                   may be repeated, applied in order after the job is loaded
  -y, --yes        create a missing To base folder without asking
  --list           print every remote URL and its local path (tab between
                   them), one pair a line; no network, no disk
  --preview        print the first and last name of each side
  -q, --quiet      print only the summary
  -h, --help       show this text
  --version        show the version

During a run on a terminal one status line shows the progress; otherwise one
line per file is printed. Ctrl-C stops after the current file; a second Ctrl-C
aborts the transfer in progress. Files already stored are never lost.

Exit status: 0 every file stored, 1 finished with missing files, 2 stopped or
ended by a connection error, 64 bad input or usage.

Examples:
  pellora-cli photos.pel
  pellora-cli --set Fr_StartPoint=101 --set Fr_EndPoint=200 photos.pel
  pellora-cli --list photos.pel | head
)";
}

}  // namespace pellora
