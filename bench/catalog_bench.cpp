// How the folder catalog copes with a large library: re-indexing 100,000
// unchanged files at start-up, the cost of a 500-asset page at the start,
// the middle and the end of the order, and the first index of 10,000 real
// photos and videos, metadata included.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <memory>
#include <string>

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

// --- The first index of a real library --------------------------------------

// A camera-roll mix of 10,000 files: 7,000 JPEGs and 500 Live Photos (a
// JPEG and its movie), each JPEG with its own EXIF capture time and
// offset; 1,500 HEICs and 500 MP4 videos. The pictures are 1024x768: the
// metadata readers stop before the image data, so larger pictures would
// cost only disk space. Made with ffmpeg, heif-enc and exiv2.
struct RealLibrary {
  static constexpr int kJpegs = 7000;
  static constexpr int kLivePhotos = 500;
  static constexpr int kHeics = 1500;
  static constexpr int kVideos = 500;
  static constexpr int kFiles = kJpegs + 2 * kLivePhotos + kHeics + kVideos;

  fs::path root;
  fs::path files;
  bool made = false;

  RealLibrary() {
    root = fs::temp_directory_path() / ("lumenvale-real-library-bench-" + std::to_string(::getpid()));
    files = root / "photos";
    fs::create_directories(files);
    const fs::path jpeg = root / "base.jpg", heic = root / "base.heic", movie = root / "base.mp4";
    const std::string quiet = " -loglevel error -y ";
    made = run("ffmpeg" + quiet + "-f lavfi -i testsrc=size=1024x768:rate=1 -frames:v 1 -q:v 3 '" +
               jpeg.string() + "'") &&
           run("heif-enc -q 50 '" + jpeg.string() + "' -o '" + heic.string() + "' >/dev/null") &&
           run("ffmpeg" + quiet + "-f lavfi -i testsrc=size=640x360:rate=30 -t 2 -pix_fmt yuv420p " +
               "-metadata creation_time=2024-05-06T07:08:09Z '" + movie.string() + "'");
    if (!made) return;
    int n = 0;
    const auto next = [&](const char* extension) {
      char folder[8], name[24];
      std::snprintf(folder, sizeof folder, "%03d", n / 1000);
      std::snprintf(name, sizeof name, "IMG_%04d.%s", n, extension);
      fs::create_directories(files / folder);
      return files / folder / name;
    };
    for (int i = 0; i < kJpegs + kLivePhotos; ++i, ++n) {
      const fs::path photo = next("JPG");
      fs::copy_file(jpeg, photo);
      char taken[32];
      std::snprintf(taken, sizeof taken, "20%02d:%02d:%02d %02d:%02d:%02d", 15 + i % 10, 1 + i % 12,
                    1 + i % 28, i % 24, i % 60, (i * 7) % 60);
      auto image = Exiv2::ImageFactory::open(photo.string());
      Exiv2::ExifData exif;
      exif["Exif.Photo.DateTimeOriginal"] = std::string(taken);
      exif["Exif.Photo.OffsetTimeOriginal"] = std::string(i % 2 ? "+02:00" : "-05:00");
      exif["Exif.Image.Orientation"] = static_cast<uint16_t>(i % 4 ? 1 : 6);
      exif["Exif.Image.Model"] = std::string("Bench Camera");
      image->setExifData(exif);
      image->writeMetadata();
      if (i >= kJpegs) fs::copy_file(movie, fs::path(photo).replace_extension(".MOV"));
    }
    for (int i = 0; i < kHeics; ++i, ++n) fs::copy_file(heic, next("HEIC"));
    for (int i = 0; i < kVideos; ++i, ++n) fs::copy_file(movie, next("MP4"));
  }

  ~RealLibrary() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  static bool run(const std::string& command) { return std::system(command.c_str()) == 0; }
};

void BM_FirstIndexOfRealPhotos(benchmark::State& state) {
  static RealLibrary real;
  if (!real.made) {
    state.SkipWithError("ffmpeg or heif-enc could not make the pictures");
    return;
  }
  std::int64_t assets = 0;
  std::int64_t reads = 0;
  std::int64_t recorded = 0;
  for (auto _ : state) {
    // A new data folder each time: the index starts from nothing.
    const fs::path data = real.root / ("data-" + std::to_string(state.iterations()));
    {
      Catalog catalog(data.string());
      const lumenvale::IndexReport report = catalog.index({real.files.string()});
      assets = catalog.count();
      reads = report.metadataReads;
      // Every JPEG, Live Photo and video records a capture time before
      // 2025; the HEICs record none and take their files' (new) times.
      const auto cut = lumenvale::TimePoint(std::chrono::sys_days(std::chrono::year{2025} / 1 / 1).time_since_epoch());
      recorded = assets - catalog.countNewerThan(cut);
    }
    state.PauseTiming();
    fs::remove_all(data);
    state.ResumeTiming();
  }
  state.counters["files"] = RealLibrary::kFiles;
  state.counters["assets"] = static_cast<double>(assets);
  state.counters["metadata_reads"] = static_cast<double>(reads);
  state.counters["capture_times_read"] = static_cast<double>(recorded);
  if (recorded != RealLibrary::kJpegs + RealLibrary::kLivePhotos + RealLibrary::kVideos)
    state.SkipWithError("capture times were not read from every file that has one");
  state.counters["files_per_s"] =
      benchmark::Counter(RealLibrary::kFiles, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FirstIndexOfRealPhotos)->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
