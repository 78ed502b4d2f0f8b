#include "cli/cli_options.h"

namespace pellora {

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE"; nullopt when
// `args[i]` is not that option. Moves `i` past a separate value.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, size_t& i,
                                       const std::string& name, std::string& error) {
  const std::string& arg = args[i];
  if (arg.starts_with(name + "=")) return arg.substr(name.size() + 1);
  if (arg != name) return std::nullopt;
  if (i + 1 == args.size()) {
    error = name + " needs a value";
    return std::string();
  }
  return args[++i];
}

// As OptionValue, also for a short form "-jN" or "-j N".
std::optional<std::string> ShortOrLongValue(const std::vector<std::string>& args, size_t& i,
                                            const std::string& shortName,
                                            const std::string& longName, std::string& error) {
  const std::string& arg = args[i];
  if (arg.starts_with(shortName) && arg.size() > shortName.size() && !arg.starts_with("--")) {
    return arg.substr(shortName.size());
  }
  if (const auto value = OptionValue(args, i, shortName, error)) return value;
  return OptionValue(args, i, longName, error);
}

}  // namespace

std::optional<TCliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                           std::string& error) {
  TCliOptions options;
  bool onlyFiles = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg.size() < 2 || arg[0] != '-') {
      if (!options.JobFile.empty()) {
        error = "only one job file may be given";
        return std::nullopt;
      }
      options.JobFile = arg;
    } else if (arg == "--") {
      onlyFiles = true;
    } else if (const auto set = OptionValue(args, i, "--set", error)) {
      if (!error.empty()) return std::nullopt;
      if (set->find('=') == std::string::npos) {
        error = "--set needs KEY=VALUE, not '" + *set + "'";
        return std::nullopt;
      }
      options.Sets.push_back(*set);
    } else if (const auto count = ShortOrLongValue(args, i, "-j", "--connections", error)) {
      if (!error.empty()) return std::nullopt;
      options.Sets.push_back("St_Connections=" + *count);
    } else if (const auto tries = OptionValue(args, i, "--retries", error)) {
      if (!error.empty()) return std::nullopt;
      options.Sets.push_back("St_Retries=" + *tries);
    } else if (const auto file = OptionValue(args, i, "--password-file", error)) {
      if (!error.empty()) return std::nullopt;
      options.PasswordFile = *file;
    } else if (arg == "-y" || arg == "--yes") {
      options.Yes = true;
    } else if (arg == "--list") {
      options.List = true;
    } else if (arg == "--preview") {
      options.Preview = true;
    } else if (arg == "--keys") {
      options.Keys = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.Quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      options.Help = true;
    } else if (arg == "--version") {
      options.Version = true;
    } else {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
  }
  if (options.List + options.Preview + options.Keys > 1) {
    error = "--list, --preview and --keys exclude each other";
    return std::nullopt;
  }
  return options;
}

std::string CliUsage() {
  return R"usage(Usage: pellora-cli [OPTIONS] [JOB.pel]

Downloads a run of numbered files as the job describes: from the settings file
JOB.pel, or without one the job and options that Pellora keeps for this user.
The files are named exactly as the window names them for the same job.

Options:
  --set KEY=VALUE  override one setting; KEY is any settings-file key (see
                   --keys); may be repeated, applied in order after the job
                   is loaded. Each acts as that edit in the window: with the
                   links on (the default) a From start or end also becomes
                   the To start and end, a From file name the To file name;
                   give To_StartPoint after it to keep local numbers of your
                   own. Flags take true/false, 1/0, yes/no or on/off.
  -j N, --connections N
                   fetch up to N files at the same time, each over its own
                   connection (1 to 16; the same as --set St_Connections=N).
                   Files are still numbered, skipped and reported in order;
                   each connection is kept for its next file where the
                   server allows it.
                   More connections load the server more: ask before using
                   many on a server that is not yours.
  --retries N      try a file up to N more times after a connection error, a
                   time-out, a reply cut off, a 5xx or a 429 reply, waiting
                   1 s, 2 s, 4 s ... (at most 60 s) or as long as the server's
                   Retry-After asks (at most 5 minutes); 0 to 10, the same as
                   --set St_Retries=N
  --password-file FILE
                   read the password for Basic authorization from the first
                   line of FILE (see Password below)
  -y, --yes        create a missing To base folder without asking
  --list           print every remote URL and its local path (tab between
                   them), one pair a line; no network, no disk
  --preview        print the first and last name of each side
  --keys           print every setting key with its value in effect and
                   what it means
  -q, --quiet      print only the summary
  -h, --help       show this text
  --version        show the version

During a run on a terminal one status line shows the progress; otherwise one
line per file is printed. The summary ends with the numbers of files stored,
skipped and missing. Ctrl-C stops after the current file; a second Ctrl-C, or
SIGTERM or SIGHUP, stops at once, removing the unfinished file. Files already
stored are never lost.

Password: the command line of every process can be read by every user of the
machine, so a password given with --set St_Password=... is not secret. Give it
in the environment variable PELLORA_PASSWORD (when set and not empty) or in a
file readable only by you with --password-file; either replaces the job's
password (the file wins over the variable, --set over both).

Exit status:
  0   every file stored (or skipped as present)
  1   the run finished, but some files were missing on the server
  2   stopped by the user (Ctrl-C, SIGTERM, SIGHUP, or "stop" when asked)
  3   network or TLS error: connection, time-out, a reply cut off, or a
      server certificate that failed verification
  4   local file error: a file could not be stored or a folder made
  64  bad input or usage, also a From address the program cannot use

Examples:
  pellora-cli photos.pel
  pellora-cli --set Fr_StartPoint=101 --set Fr_EndPoint=200 photos.pel
  PELLORA_PASSWORD="$(cat ~/.secret)" pellora-cli photos.pel
  pellora-cli --list photos.pel | head
)usage";
}

}  // namespace pellora
