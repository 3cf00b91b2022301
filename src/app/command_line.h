// Reads the program's command line into Options (with CLI11), or says what
// is wrong with it. Pure; used once by main().
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumenvale {

struct Options {
  enum class Mode { run, help, version, settingsGet, settingsSet, screenshots };

  Mode mode = Mode::run;
  bool headless = false;
  // How much the terminal front end says: -1 (--quiet) only what the owner
  // must see or answer, 0 the usual, 1 (--verbose) the figures of a copy
  // as they change.
  int verbosity = 0;
  std::vector<std::string> libraries;  // --library, in order given
  std::optional<std::string> data;     // --data
  std::optional<std::string> name;     // --name
  std::string listen;                  // --listen: the address to serve on; empty for every one
  std::string screenshots;             // --screenshots OUT_DIR
  std::string settingKey;              // settings get|set KEY [VALUE]
  std::string settingValue;
};

struct CommandLine {
  std::optional<Options> options;
  std::string error;  // set when options is nothing
  std::string help;   // what --help prints: the program's, or the command's asked about

  static CommandLine parse(const std::vector<std::string>& arguments);
};

}  // namespace lumenvale
