// lumenvale: the device side. Reads the command line and runs the terminal
// front end.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/headless.h"
#include "app/version.h"

int main(int argc, char** argv) {
  const lumenvale::CommandLine line =
      lumenvale::CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
  if (!line.options) {
    std::fprintf(stderr, "lumenvale: %s\n%s", line.error.c_str(), lumenvale::kUsage);
    return 2;
  }
  switch (line.options->mode) {
    case lumenvale::Options::Mode::help:
      std::printf("%s", lumenvale::kUsage);
      return 0;
    case lumenvale::Options::Mode::version:
      std::printf("lumenvale %s\n", lumenvale::kVersion);
      return 0;
    case lumenvale::Options::Mode::run:
      // There is no app window yet: every run is the terminal front end.
      return lumenvale::runHeadless(*line.options);
  }
  return 0;
}
