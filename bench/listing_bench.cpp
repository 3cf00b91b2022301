// What a laptop's listing costs in the server with a million assets in the
// folder catalog: the `assets` handler (authentication, the cursor, the
// page from the catalog, the JSON) for a page of 500 at the start, the
// middle and the end of the order, and the whole library listed page by
// page. Creation times come in runs of equal seconds and one asset in a
// hundred has none, so the cursor meets ties and the undated tail.
//
//   listing_bench [--assets N] [Google Benchmark flags]   (default 1,000,000)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "api/api.h"
#include "library/photo_library.h"
#include "pairing/laptops.h"
#include "pairing/pairing.h"
#include "platform/folder/catalog.h"
#include "platform/folder/folder_photo_store.h"
#include "transport/http.h"
#include "util/clock.h"

namespace {

namespace fs = std::filesystem;
using namespace lumenvale;

constexpr int kPerFolder = 1000;
constexpr std::int64_t kPageSize = 500;
const std::string kToken = "listing-bench-token";
std::int64_t assetCount = 1000000;

// A sink that keeps only the size of what was sent, and the body of the
// last response for reading its cursor.
class CountingSink : public ByteSink {
 public:
  void send(std::string_view bytes) override {
    sent += bytes.size();
    last.assign(bytes);
  }
  std::size_t sent = 0;
  std::string last;
};

// The creation time given to file `n` of the library: runs of three files
// share a second, and every hundredth file has none.
std::optional<TimePoint> createdFor(std::int64_t n) {
  if (n % 100 == 99) return std::nullopt;
  return TimePoint(std::chrono::seconds(1500000000 + n / 3));
}

struct Server {
  fs::path files;
  fs::path data;
  std::unique_ptr<Catalog> catalog;
  std::unique_ptr<FolderPhotoStore> store;
  std::unique_ptr<PhotoLibrary> library;
  std::unique_ptr<Laptops> laptops;
  std::unique_ptr<Pairing> pairing;
  std::unique_ptr<Api> api;
  double indexSeconds = 0;
  double makeSeconds = 0;

  Server() {
    const std::string name = "lumenvale-listing-bench-" + std::to_string(::getpid());
    files = (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) / name;
    data = fs::temp_directory_path() / (name + "-data");
    fs::create_directories(data);
    const auto making = std::chrono::steady_clock::now();
    // The file's number rides in its name, so the metadata reader below can
    // give each its creation time without opening it.
    for (std::int64_t n = 0; n < assetCount; ++n) {
      const fs::path folder = files / std::to_string(n / kPerFolder);
      if (n % kPerFolder == 0) fs::create_directories(folder);
      char fileName[32];
      std::snprintf(fileName, sizeof fileName, "IMG_%07lld.JPG", static_cast<long long>(n));
      const int fd = ::open((folder / fileName).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
    }
    makeSeconds = secondsSince(making);

    Catalog::Options options;
    options.modificationTimeAsCreation = false;
    options.readMetadata = [](const std::string& path, MimeTypes::Kind) {
      const std::size_t at = path.rfind("IMG_");
      MediaMetadata metadata;
      metadata.created = createdFor(std::stoll(path.substr(at + 4, 7)));
      metadata.width = 4032;
      metadata.height = 3024;
      return std::optional<MediaMetadata>(metadata);
    };
    catalog = std::make_unique<Catalog>(data.string(), options);
    const auto indexing = std::chrono::steady_clock::now();
    catalog->index({files.string()});
    indexSeconds = secondsSince(indexing);

    store = std::make_unique<FolderPhotoStore>(*catalog);
    library = std::make_unique<PhotoLibrary>(*store, nullptr, [] { return std::string("UTC"); });
    laptops = std::make_unique<Laptops>((data / "laptops.json").string());
    laptops->add("bench laptop", "", kToken, systemNow());
    pairing = std::make_unique<Pairing>(std::string(64, 'a'));
    api = std::make_unique<Api>(*pairing, *laptops, *library, Api::Callbacks{});
  }

  ~Server() {
    api.reset();
    library.reset();
    store.reset();
    catalog.reset();
    std::error_code ignored;
    fs::remove_all(files, ignored);
    fs::remove_all(data, ignored);
  }

  static double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  // route answers GET /v1/assets?limit=500[&after=cursor] into `sink`.
  void route(const std::string& after, CountingSink& sink) const {
    HttpRequest request;
    request.method = "GET";
    request.path = "/v1/assets";
    request.query["limit"] = std::to_string(kPageSize);
    if (!after.empty()) request.query["after"] = after;
    request.headers["authorization"] = "Bearer " + kToken;
    api->route(request, sink);
  }

  // page does the same and returns the page's next cursor (empty at the end).
  std::string page(const std::string& after, CountingSink& sink) const {
    route(after, sink);
    const nlohmann::json body = nlohmann::json::parse(sink.last.substr(sink.last.find("\r\n\r\n") + 4));
    return body["next"].is_string() ? body["next"].get<std::string>() : std::string();
  }
};

Server& server() {
  static Server shared;
  return shared;
}

// The cursors that start the pages at the start, the middle and the end,
// collected by listing the whole library once, which is timed too.
struct Walk {
  std::map<std::int64_t, std::string> cursorAt;  // page start position -> cursor
  std::int64_t listed = 0;
  double seconds = 0;
  std::size_t bytes = 0;
};

Walk& walk() {
  static Walk shared = [] {
    Walk walked;
    Server& s = server();
    const auto started = std::chrono::steady_clock::now();
    std::string after;
    for (std::int64_t position = 0;; position += kPageSize) {
      walked.cursorAt[position] = after;
      CountingSink sink;
      after = s.page(after, sink);
      walked.bytes += sink.sent;
      walked.listed = std::min(position + kPageSize, assetCount);
      if (after.empty()) break;
    }
    walked.seconds = Server::secondsSince(started);
    return walked;
  }();
  return shared;
}

void BM_WholeListing(benchmark::State& state) {
  Server& s = server();
  Walk& walked = walk();
  for (auto _ : state) {
    // The walk is done once (it is long); the loop only reports it.
    state.SetIterationTime(walked.seconds);
  }
  if (walked.listed != assetCount) state.SkipWithError("the listing did not reach every asset");
  state.counters["assets"] = static_cast<double>(walked.listed);
  state.counters["pages"] = static_cast<double>(walked.cursorAt.size());
  state.counters["ms_per_page"] = 1000 * walked.seconds / static_cast<double>(walked.cursorAt.size());
  state.counters["MiB_sent"] = static_cast<double>(walked.bytes) / 1048576;
  state.counters["first_index_s"] = s.indexSeconds;
  state.counters["files_made_s"] = s.makeSeconds;
}
BENCHMARK(BM_WholeListing)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_PageOf500(benchmark::State& state) {
  Server& s = server();
  Walk& walked = walk();
  // 0: the first page, 1: the one holding the middle asset, 2: the last.
  const std::int64_t wanted = state.range(0) * (assetCount - 1) / 2;
  const std::string& cursor = walked.cursorAt.at(wanted / kPageSize * kPageSize);
  std::size_t bytes = 0;
  for (auto _ : state) {
    CountingSink sink;
    s.route(cursor, sink);
    bytes = sink.sent;
  }
  state.counters["response_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PageOf500)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--assets") == 0) {
      assetCount = std::stoll(argv[i + 1]);
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
