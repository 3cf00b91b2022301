// Measures the device's resident memory while paired laptops ask for the
// thumbnails of hostile pictures: small files that declare pictures of
// hundreds of megapixels which decode whole (interlaced PNG, progressive
// JPEG, GIF) and large movie frames, beside ordinary photos.
// bench/picture_memory runs it twice:
//
//   picture_memory_bench make FOLDER
//       writes the hostile pictures into FOLDER (the movies and ordinary
//       photos are made by the script with ffmpeg);
//   picture_memory_bench --device-port P --fingerprint F --code C --device-pid PID
//       pairs, lists the library, then asks for every picture's thumbnail
//       over kParallel connections at once and prints a Markdown table of
//       the answers and of the device's memory: idle, peak (VmHWM reset
//       before the thumbnails, and sampled every 50 ms) and the difference.
//
// Only speaks to 127.0.0.1; every socket is bounded in time.
#include <signal.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "arguments.h"
#include "support/hostile_pictures.h"
#include "support/pairing_recipe.h"
#include "support/tls_client.h"

namespace {

namespace HostilePictures = lumenvale::testing::HostilePictures;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using lumenvale::testing::HttpResponse;
using lumenvale::testing::TlsClient;

// Laptops asking at once; the device serves eight connections.
constexpr int kParallel = 4;
// A device decoding a 20000 x 20000 picture whole takes tens of seconds.
constexpr auto kSocketTimeout = std::chrono::seconds(600);
constexpr auto kRssInterval = std::chrono::milliseconds(50);
constexpr std::uint16_t kHostileSide = 20000;
constexpr int kCopies = 4;  // of each hostile picture
constexpr double kBoundMiB = 256;

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "picture_memory_bench: %s\n", why.c_str());
  std::exit(1);
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) fail("cannot write " + path.string());
}

int make(const fs::path& folder) {
  if (VIPS_INIT("picture_memory_bench") != 0) fail("libvips does not start");
  const std::optional<std::string> png = HostilePictures::interlacedPng(kHostileSide, kHostileSide);
  const std::optional<std::string> jpeg = HostilePictures::progressiveJpeg(kHostileSide, kHostileSide);
  const std::string animation = HostilePictures::gif(kHostileSide, kHostileSide);
  if (!png || !jpeg) fail("cannot make the hostile pictures");
  for (int copy = 1; copy <= kCopies; ++copy) {
    const std::string n = std::to_string(copy);
    writeFile(folder / ("HOSTILE_PNG_" + n + ".PNG"), *png);
    writeFile(folder / ("HOSTILE_JPEG_" + n + ".JPG"), *jpeg);
    writeFile(folder / ("HOSTILE_GIF_" + n + ".GIF"), animation);
  }
  return 0;
}

std::uint64_t statusKiB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field + ":")) return std::stoull(line.substr(field.size() + 1));
  }
  fail("no " + field + " for process " + std::to_string(pid));
}

struct Options {
  std::uint16_t devicePort = 0;
  std::string fingerprint;
  std::string code;
  pid_t devicePid = 0;
};

Options parse(int argc, char** argv) {
  const auto device = lumenvale::bench::DeviceUnderTest::from(lumenvale::bench::Arguments(argc, argv));
  Options options;
  options.devicePort = device.port;
  options.fingerprint = device.fingerprint;
  options.code = device.code;
  options.devicePid = device.pid;
  return options;
}

struct Picture {
  std::string id;
  std::string name;
  bool hostile = false;
  int status = 0;
  double seconds = 0;
};

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  if (argc == 3 && std::string(argv[1]) == "make") return make(argv[2]);
  const Options options = parse(argc, argv);

  std::unique_ptr<TlsClient> control = TlsClient::connect(options.devicePort, options.fingerprint, kSocketTimeout);
  if (!control) fail("cannot connect to the device with its fingerprint pinned");
  const auto ask = [&](TlsClient& client, const std::string& method, const std::string& target,
                       const std::string& headers, const std::optional<std::string>& body = std::nullopt) {
    if (!client.request(method, target, headers, body)) fail(method + " " + target + ": cannot send");
    std::optional<HttpResponse> response = client.response();
    if (!response) fail(method + " " + target + ": no answer");
    return *response;
  };
  const std::string laptopId = "picture-bench-laptop";
  const std::string symbols = lumenvale::testing::symbolsOf(options.code);
  const nlohmann::json pairBody = {{"laptopId", laptopId},
                                   {"laptopName", "Bench Laptop"},
                                   {"proof", lumenvale::testing::laptopProof(symbols, options.fingerprint, laptopId)}};
  const HttpResponse paired = ask(*control, "POST", "/v1/pair", "", pairBody.dump());
  if (paired.status != 200) fail("pairing answered " + std::to_string(paired.status) + ": " + paired.body);
  const std::string authorization =
      "Authorization: Bearer " + nlohmann::json::parse(paired.body).value("token", "") + "\r\n";

  std::vector<Picture> pictures;
  std::string target = "/v1/assets?limit=500";
  for (int pages = 0; pages < 100; ++pages) {
    const HttpResponse listed = ask(*control, "GET", target, authorization);
    if (listed.status != 200) fail("listing answered " + std::to_string(listed.status));
    const nlohmann::json page = nlohmann::json::parse(listed.body);
    for (const nlohmann::json& asset : page["assets"]) {
      const std::string name = asset["resources"].at(0)["name"];
      pictures.push_back({asset["id"], name, name.starts_with("HOSTILE_")});
    }
    if (page["next"].is_null()) break;
    target = "/v1/assets?limit=500&after=" + page["next"].get<std::string>();
  }
  control.reset();
  const auto hostile = std::count_if(pictures.begin(), pictures.end(), [](const Picture& p) { return p.hostile; });
  if (hostile == 0 || hostile == static_cast<long>(pictures.size()))
    fail("the library lacks hostile or ordinary files");

  // The laptop's connection has closed; what the device holds now is its
  // idle size, and its peak is counted from here.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::uint64_t idle = statusKiB(options.devicePid, "VmRSS");
  {
    std::ofstream reset("/proc/" + std::to_string(options.devicePid) + "/clear_refs");
    reset << "5";
    if (!reset) fail("cannot reset the device's peak memory");
  }
  std::atomic<bool> sampling{true};
  std::atomic<std::uint64_t> sampled{0};
  std::thread sampler([&] {
    while (sampling) {
      sampled = std::max<std::uint64_t>(sampled, statusKiB(options.devicePid, "VmRSS"));
      std::this_thread::sleep_for(kRssInterval);
    }
  });

  std::atomic<std::size_t> next{0};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> laptops;
  for (int i = 0; i < kParallel; ++i) {
    laptops.emplace_back([&] {
      std::unique_ptr<TlsClient> client = TlsClient::connect(options.devicePort, options.fingerprint, kSocketTimeout);
      if (!client) fail("a laptop cannot connect");
      for (std::size_t at; (at = next++) < pictures.size();) {
        const Clock::time_point asked = Clock::now();
        const HttpResponse thumb =
            ask(*client, "GET", "/v1/assets/" + pictures[at].id + "/thumb?px=256", authorization);
        pictures[at].status = thumb.status;
        pictures[at].seconds = std::chrono::duration<double>(Clock::now() - asked).count();
        if (thumb.status == 200 && !thumb.body.starts_with("\xFF\xD8")) fail(pictures[at].name + ": not a JPEG");
      }
    });
  }
  for (std::thread& laptop : laptops) laptop.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sampling = false;
  sampler.join();
  const std::uint64_t peak = std::max<std::uint64_t>(statusKiB(options.devicePid, "VmHWM"), sampled);

  std::map<std::string, std::map<int, int>> answers;  // kind, status: count
  double slowest = 0;
  for (const Picture& picture : pictures) {
    const std::string kind = picture.hostile ? picture.name.substr(0, picture.name.find('_', 8)) : "ordinary";
    ++answers[kind][picture.status];
    slowest = std::max(slowest, picture.seconds);
  }
  const double added = (static_cast<double>(peak) - static_cast<double>(idle)) / 1024.0;
  std::printf("| Measure | Value |\n|---|---|\n");
  for (const auto& [kind, statuses] : answers) {
    std::string text;
    for (const auto& [status, count] : statuses) {
      text += (text.empty() ? "" : ", ") + std::to_string(count) + " x " + std::to_string(status);
    }
    std::printf("| Thumbnails of %s files | %s |\n", kind.c_str(), text.c_str());
  }
  std::printf("| Laptops asking at once | %d |\n", kParallel);
  std::printf("| All thumbnails (s; slowest answer %.1f s) | %.1f |\n", slowest, seconds);
  std::printf("| Device RSS idle (MiB) | %.1f |\n", idle / 1024.0);
  std::printf("| Device peak RSS while serving (MiB) | %.1f |\n", peak / 1024.0);
  std::printf("| Peak above idle (MiB) | %.1f (%s) |\n", added,
              added < kBoundMiB ? "< 256 MiB: met" : "< 256 MiB: MISSED");
  return 0;
}
