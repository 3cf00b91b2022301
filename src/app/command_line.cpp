#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include "transport/listen_address.h"

namespace lumenvale {

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
  CLI::App app(
      "Lets the laptops on this network copy this device's photo library safely, then frees the space once a\n"
      "laptop holds each photo, with the owner's yes. With a display it opens the app window.",
      "lumenvale");
  // Options of the program may come after `settings` too.
  app.fallthrough();
  Options options;
  bool help = false;
  bool version = false;
  app.set_help_flag();
  app.add_flag("-h,--help", help, "print this help and exit");
  app.add_flag("--version", version, "print the version and exit");
  app.add_flag("--headless", options.headless, "run in the terminal, without the app window");
  bool quiet = false;
  bool verbose = false;
  app.add_flag("-q,--quiet", quiet, "in the terminal, say only what the owner must see or answer");
  app.add_flag("-v,--verbose", verbose, "in the terminal, say the figures of a copy as they change");
  app.add_option("--library", options.libraries, "a photo folder to serve (may be given more than once)")
      ->type_name("DIR")
      ->allow_extra_args(false);
  std::string data;
  app.add_option("--data", data, "where Lumenvale keeps its identity, laptops and settings")->type_name("DIR");
  std::string name;
  app.add_option("--name", name, "the name laptops see (default: this machine's name)");
  app.add_option("--listen", options.listen,
                 "the one IPv4 or IPv6 address to serve on (default: every address, IPv6 and IPv4; 0.0.0.0: every\n"
                 "IPv4 address); the program ends if it cannot serve there")
      ->type_name("ADDRESS");
  app.add_option("--screenshots", options.screenshots, "draw every screen, light and dark, to PNG files in OUT_DIR")
      ->type_name("OUT_DIR");

  CLI::App* settings = app.add_subcommand("settings", "read or change a setting of the device");
  settings->set_help_flag();
  settings->add_flag("-h,--help", help, "print this help and exit");
  settings->require_subcommand(1);
  CLI::App* get = settings->add_subcommand("get", "print a setting: allowDelete, theme or welcomed");
  get->add_option("KEY", options.settingKey, "the setting")->required();
  CLI::App* set = settings->add_subcommand("set", "change a setting: allowDelete true|false, theme system|light|dark");
  set->add_option("KEY", options.settingKey, "the setting")->required();
  set->add_option("VALUE", options.settingValue, "its new value")->required();

  CommandLine line;
  line.help = app.help();
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    // A --help among wrong words still helps.
    if (help) {
      Options helping;
      helping.mode = Options::Mode::help;
      return CommandLine{helping, {}, settings->parsed() ? settings->help() : line.help};
    }
    line.error = settings->parsed() && !get->parsed() && !set->parsed()
                     ? "settings takes \"get KEY\" or \"set KEY VALUE\"."
                     : error.what();
    return line;
  }
  if (help) {
    options.mode = Options::Mode::help;
    return CommandLine{std::move(options), {}, settings->parsed() ? settings->help() : line.help};
  }
  if (version) {
    options.mode = Options::Mode::version;
    return CommandLine{std::move(options), {}, line.help};
  }
  for (const std::string& folder : options.libraries) {
    if (folder.empty()) return CommandLine{std::nullopt, "--library needs a folder.", line.help};
  }
  if (quiet && verbose)
    return CommandLine{std::nullopt, "--quiet and --verbose: say one or the other, not both.", line.help};
  options.verbosity = quiet ? -1 : verbose ? 1 : 0;
  if (!data.empty()) options.data = data;
  if (!name.empty()) options.name = name;
  // Refused here, before an identity is made or a folder indexed, the way
  // every other mistake on the command line is.
  if (!options.listen.empty() && ListenAddress::choices(options.listen).empty()) {
    return CommandLine{std::nullopt, "--listen takes a numeric IPv4 or IPv6 address, not \"" + options.listen + "\".",
                       line.help};
  }
  if (!options.screenshots.empty()) options.mode = Options::Mode::screenshots;
  if (get->parsed()) options.mode = Options::Mode::settingsGet;
  if (set->parsed()) options.mode = Options::Mode::settingsSet;
  line.options = std::move(options);
  return line;
}

}  // namespace lumenvale
