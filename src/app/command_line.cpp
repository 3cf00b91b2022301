#include "app/command_line.h"

#include "transport/listen_address.h"

namespace lumenvale {

const char* const kUsage =
    "usage: lumenvale [--headless] [--library DIR] [--data DIR] [--name NAME] [--listen ADDRESS]\n"
    "       lumenvale [--data DIR] settings get KEY\n"
    "       lumenvale [--data DIR] settings set KEY VALUE   (allowDelete true|false, theme system|light|dark)\n"
    "       lumenvale --screenshots OUT_DIR   (draws every screen, light and dark, to PNG files)\n"
    "       lumenvale --version | --help\n"
    "\n"
    "  --headless        run in the terminal, without the app window\n"
    "  --library DIR     a photo folder to serve (may be given more than once)\n"
    "  --data DIR        where Lumenvale keeps its identity, laptops and settings\n"
    "  --name NAME       the name laptops see (default: this machine's name)\n"
    "  --listen ADDRESS  the one IPv4 or IPv6 address to serve on (default: every address, IPv6 and\n"
    "                    IPv4; 0.0.0.0: every IPv4 address); the program ends if it cannot serve there\n";

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
  Options options;
  const auto failure = [](std::string error) { return CommandLine{std::nullopt, std::move(error)}; };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    const auto value = [&](std::string& into) {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) return false;
      into = arguments[++i];
      return true;
    };
    std::string given;
    if (word == "--help" || word == "-h") {
      options.mode = Options::Mode::help;
    } else if (word == "--version") {
      options.mode = Options::Mode::version;
    } else if (word == "--headless") {
      options.headless = true;
    } else if (word == "--library" || word == "--data" || word == "--name" || word == "--listen") {
      if (!value(given)) return failure(word + " needs a value.");
      if (word == "--library") options.libraries.push_back(given);
      if (word == "--data") options.data = given;
      if (word == "--name") options.name = given;
      // Refused here, before an identity is made or a folder indexed, the
      // way every other mistake on the command line is.
      if (word == "--listen" && ListenAddress::choices(given).empty()) {
        return failure("--listen takes a numeric IPv4 or IPv6 address, not \"" + given + "\".");
      }
      if (word == "--listen") options.listen = given;
    } else if (word == "--screenshots") {
      if (!value(options.screenshots)) return failure(word + " needs a folder.");
      options.mode = Options::Mode::screenshots;
    } else if (word == "settings") {
      const std::size_t left = arguments.size() - i - 1;
      const std::string action = left > 0 ? arguments[i + 1] : "";
      if (action == "get" && left == 2) {
        options.mode = Options::Mode::settingsGet;
        options.settingKey = arguments[i + 2];
      } else if (action == "set" && left == 3) {
        options.mode = Options::Mode::settingsSet;
        options.settingKey = arguments[i + 2];
        options.settingValue = arguments[i + 3];
      } else {
        return failure("settings takes \"get KEY\" or \"set KEY VALUE\", and comes last.");
      }
      break;
    } else {
      return failure("Unknown argument: " + word);
    }
  }
  return CommandLine{std::move(options), {}};
}

}  // namespace lumenvale
