// What the fuzz targets share: a check that ends the run when an invariant
// fails (libFuzzer then keeps the input as a crash), and a scratch folder for
// the targets that read and write the stores' files. Single-threaded, like
// libFuzzer's calls into a target.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace lumenvale::fuzz {

// require stops the process with `what` when `holds` is false.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz invariant failed: %s\n", what);
  std::abort();
}

// A folder made once per process and removed at exit. It lives in /dev/shm
// when there is one: the stores fsync every write, which costs nothing there
// and milliseconds on a disk.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& label) {
    std::error_code ignored;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = (base / ("lumenvale-fuzz-" + label + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

  // clear empties the folder, so that each input starts from nothing.
  void clear() const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
      std::filesystem::remove_all(entry.path(), ignored);
    }
  }

 private:
  std::string path_;
};

// A path whose folder does not exist: a store given it loads nothing and
// every write fails at once, so a target exercises the store's logic without
// touching the disk.
inline constexpr const char* kUnwritable = "/nonexistent/lumenvale-fuzz/store.json";

}  // namespace lumenvale::fuzz
