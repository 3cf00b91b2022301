// lumenvale: the device side. Reads the command line and runs the app
// window, or the terminal front end with --headless or no display.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_window.h"
#include "app/command_line.h"
#include "app/device_side.h"
#include "app/headless.h"
#include "app/version.h"
#include "platform/device.h"
#include "platform/settings.h"
#include "screens/screenshots.h"

namespace {

// settings prints or changes one setting; the exit status is 0, or 2 for a
// key or value the owner may not use there, or 1 when the file cannot be
// written.
int settings(const lumenvale::Options& options) {
  using lumenvale::Settings;
  const std::string& key = options.settingKey;
  Settings store(Settings::path(options.data));
  if (options.mode == lumenvale::Options::Mode::settingsGet) {
    const std::optional<nlohmann::json> fallback = Settings::defaultFor(key);
    if (!fallback) {
      std::fprintf(stderr, "lumenvale: there is no setting \"%s\" (allowDelete, theme, welcomed)\n", key.c_str());
      return 2;
    }
    const nlohmann::json value = store.get(key).value_or(*fallback);
    std::printf("%s\n", value.is_string() ? value.get<std::string>().c_str() : value.dump().c_str());
    return 0;
  }
  const std::optional<nlohmann::json> value = Settings::valueFor(key, options.settingValue);
  if (!value) {
    std::fprintf(stderr, "lumenvale: settings set takes allowDelete true|false or theme system|light|dark\n");
    return 2;
  }
  const std::string file = std::filesystem::absolute(Settings::path(options.data)).lexically_normal().string();
  if (!store.set(key, *value)) {
    std::fprintf(stderr, "lumenvale: cannot write %s\n", file.c_str());
    return 1;
  }
  // The running device reads the file at every request, so it needs no
  // signal; the owner learns which file, and whether it is in use.
  const bool running = lumenvale::DeviceSide::running(options.data.value_or(lumenvale::Device::dataFolder()));
  const std::string shown = value->is_string() ? value->get<std::string>() : value->dump();
  std::printf("Set %s to %s in %s%s\n", key.c_str(), shown.c_str(), file.c_str(),
              running ? "; the running lumenvale uses it from its next request." : ".");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const lumenvale::CommandLine line = lumenvale::CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
  if (!line.options) {
    std::fprintf(stderr, "lumenvale: %s\nRun `lumenvale --help` to see what it takes.\n", line.error.c_str());
    return 2;
  }
  switch (line.options->mode) {
    case lumenvale::Options::Mode::help:
      std::printf("%s", line.help.c_str());
      return 0;
    case lumenvale::Options::Mode::version:
      std::printf("lumenvale %s\n", lumenvale::kVersion);
      return 0;
    case lumenvale::Options::Mode::screenshots:
      return lumenvale::renderScreenshots(line.options->screenshots);
    case lumenvale::Options::Mode::settingsGet:
    case lumenvale::Options::Mode::settingsSet:
      return settings(*line.options);
    case lumenvale::Options::Mode::run:
      if (line.options->headless || !lumenvale::displayReachable()) return lumenvale::runHeadless(*line.options);
      return lumenvale::runApp(*line.options);
  }
  return 0;
}
