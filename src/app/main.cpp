// lumenvale: the device side. Until the server is wired in, it tells its
// version and how it will be started.
#include <cstdio>
#include <cstring>

#include "app/version.h"

namespace {

constexpr const char* kUsage =
    "usage: lumenvale [--headless] [--library DIR] [--data DIR] [--name NAME]\n"
    "       lumenvale [--data DIR] settings get KEY\n"
    "       lumenvale [--data DIR] settings set KEY VALUE\n"
    "       lumenvale [--data DIR] --screenshots OUT_DIR\n"
    "       lumenvale --version\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("lumenvale %s\n", lumenvale::kVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s", kUsage);
      return 0;
    }
  }
  std::printf("lumenvale %s\n%s", lumenvale::kVersion, kUsage);
  return 0;
}
