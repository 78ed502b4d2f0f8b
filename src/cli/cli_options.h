#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pellora {

// What the command line asks for.
struct TCliOptions {
  std::string JobFile;            // empty: the job stored for this user
  std::vector<std::string> Sets;  // "KEY=VALUE", in order
  std::string PasswordFile;       // empty: none given
  bool Yes = false;               // create a missing To base folder without asking
  bool List = false;
  bool Preview = false;
  bool Keys = false;
  bool Quiet = false;
  bool Help = false;
  bool Version = false;
};

// Parses the arguments after the program name. nullopt with `error` set when they
// make no sense.
std::optional<TCliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                           std::string& error);

// The --help text.
std::string CliUsage();

}  // namespace pellora
