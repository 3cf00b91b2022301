// The "--name value" pairs that a benchmark's driver script passes to its
// program, and the device under test that every such script starts and
// names the same way. Used from main() only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace lumenvale::bench {

class Arguments {
 public:
  Arguments(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) given_[argv[i]] = argv[i + 1];
  }

  // need returns the value given for `name`; without one the program ends,
  // saying which is missing.
  std::string need(const std::string& name) const {
    const auto found = given_.find(name);
    if (found == given_.end()) {
      std::fprintf(stderr, "missing %s\n", name.c_str());
      std::exit(2);
    }
    return found->second;
  }

  // value returns the value given for `name`, or `fallback` without one.
  std::string value(const std::string& name, const std::string& fallback) const {
    const auto found = given_.find(name);
    return found == given_.end() ? fallback : found->second;
  }

 private:
  std::map<std::string, std::string> given_;
};

// The device the script started: where it listens, the certificate and
// code it printed, and its process for reading its memory.
struct DeviceUnderTest {
  std::uint16_t port = 0;
  std::string fingerprint;
  std::string code;
  pid_t pid = 0;

  static DeviceUnderTest from(const Arguments& arguments) {
    return {static_cast<std::uint16_t>(std::stoi(arguments.need("--device-port"))), arguments.need("--fingerprint"),
            arguments.need("--code"), static_cast<pid_t>(std::stoi(arguments.need("--device-pid")))};
  }
};

}  // namespace lumenvale::bench
