// How the folder catalog copes with a large library: re-indexing 100,000
// unchanged files at start-up, and the cost of a 500-asset page at the
// start, the middle and the end of the order.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/folder/catalog.h"

namespace {

namespace fs = std::filesystem;
using lumenvale::Catalog;

constexpr int kFolders = 100;
constexpr int kPerFolder = 1000;
constexpr std::int64_t kAssets = std::int64_t{kFolders} * kPerFolder;

// One library for the whole run, made on tmpfs where there is one: creating
// 100,000 files on ext4 takes most of a minute, on tmpfs about a second.
struct Library {
  fs::path files;
  fs::path data;
  std::unique_ptr<Catalog> catalog;
  double firstIndexSeconds = 0;

  Library() {
    const std::string name = "lumenvale-catalog-bench-" + std::to_string(::getpid());
    files = (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) / name;
    data = fs::temp_directory_path() / (name + "-data");
    for (int folder = 0; folder < kFolders; ++folder) {
      const fs::path at = files / std::to_string(folder);
      fs::create_directories(at);
      for (int file = 0; file < kPerFolder; ++file) {
        char fileName[32];
        std::snprintf(fileName, sizeof fileName, "IMG_%04d.JPG", file);
        const int fd = ::open((at / fileName).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
      }
    }
    // Empty files carry no metadata; what is measured is the walk and the
    // catalog, not exiv2.
    Catalog::Options options;
    options.readMetadata = [](const std::string&, lumenvale::MimeTypes::Kind) {
      return std::optional<lumenvale::MediaMetadata>();
    };
    catalog = std::make_unique<Catalog>(data.string(), options);
    const auto started = std::chrono::steady_clock::now();
    catalog->index({files.string()});
    firstIndexSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }

  ~Library() {
    catalog.reset();
    std::error_code ignored;
    fs::remove_all(files, ignored);
    fs::remove_all(data, ignored);
  }
};

Library& library() {
  static Library shared;
  return shared;
}

void BM_ReindexUnchanged(benchmark::State& state) {
  Library& lib = library();
  for (auto _ : state) {
    const lumenvale::IndexReport report = lib.catalog->index({lib.files.string()});
    if (report.metadataReads != 0) state.SkipWithError("an unchanged file was read again");
  }
  state.counters["files"] = static_cast<double>(kAssets);
  state.counters["first_index_files_per_s"] = static_cast<double>(kAssets) / lib.firstIndexSeconds;
}
BENCHMARK(BM_ReindexUnchanged)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PageOf500(benchmark::State& state) {
  Library& lib = library();
  const std::int64_t from = state.range(0) * (kAssets - 500) / 2;
  for (auto _ : state) {
    const auto page = lib.catalog->range(from, from + 500);
    if (page.size() != 500) state.SkipWithError("short page");
    benchmark::DoNotOptimize(page.data());
  }
}
// 0: the first page, 1: the middle, 2: the last.
BENCHMARK(BM_PageOf500)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
