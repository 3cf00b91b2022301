#include "laptop/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "laptop/device_connection.h"
#include "laptop/held_files.h"
#include "laptop/laptop_config.h"
#include "laptop/find/finder.h"
#include "laptop/puller.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/format.h"
#include "util/text.h"

namespace lumenvale::laptop {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kFirstPort = 41820;
constexpr std::size_t kMaxItems = 500;
// The label both sides put before what they prove, so that a proof for
// pairing can never stand for anything else.
constexpr std::string_view kPairLabel = "lumenvale-pair|";
constexpr std::string_view kPairedLabel = "lumenvale-paired|";

const char* const kUsage =
    "usage: lumenvale-laptop find\n"
    "       lumenvale-laptop pair HOST[:PORT] [--code CODE]\n"
    "       lumenvale-laptop pull DEST [--parallel N]\n"
    "       lumenvale-laptop safe DEST\n"
    "       lumenvale-laptop free DEST [--dry-run]\n"
    "\n"
    "  find   lists the devices on this network\n"
    "  pair   pairs with a device: compare the fingerprint, type the code it shows\n"
    "  pull   copies the device's library into DEST/YYYY/MM/, checking every file\n"
    "  safe   tells the device which photos DEST holds safely\n"
    "  free   asks the device to delete what DEST holds safely; its owner says yes or no\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "lumenvale-laptop: %s\n", message.c_str());
  return 1;
}

int usage(const std::string& message) {
  std::fprintf(stderr, "lumenvale-laptop: %s\n%s", message.c_str(), kUsage);
  return 2;
}

PairedDevice pairedDevice() {
  const std::optional<PairedDevice> device = LaptopConfig(LaptopConfig::defaultFolder()).device();
  if (!device) throw std::runtime_error("This laptop is not paired yet: run `lumenvale-laptop pair HOST` first.");
  return *device;
}

int find() {
  const std::vector<FoundDevice> devices = findDevices(std::chrono::seconds(3));
  if (devices.empty()) {
    std::printf("No device found. Is Lumenvale running on the same network?\n");
    return 0;
  }
  for (const FoundDevice& device : devices) {
    std::printf("%s\t%s:%u\tfingerprint %s...\n", device.name.c_str(), device.address.c_str(),
                static_cast<unsigned>(device.port), device.fingerprintPrefix.c_str());
  }
  return 0;
}

int pair(const std::string& target, std::optional<std::string> code) {
  std::string host = target;
  std::uint16_t port = kFirstPort;
  const std::size_t colon = target.rfind(':');
  if (colon != std::string::npos && target.find(':') == colon) {
    host = target.substr(0, colon);
    const std::string digits = target.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(digits) == 0 || std::stoi(digits) > 65535) {
      return usage("\"" + digits + "\" is not a port.");
    }
    port = static_cast<std::uint16_t>(std::stoi(digits));
  }
  if (host.empty()) return usage("pair needs the device's address.");

  DeviceConnection first(host, port, std::nullopt);
  const Response info = first.get("/v1/info");
  const nlohmann::json about = info.json();
  if (info.status != 200 || !about.is_object()) return fail("There is no Lumenvale device at " + target + ".");
  const std::string fingerprint = first.seenFingerprint();
  if (about.value("fingerprint", "") != fingerprint) {
    return fail("The device at " + target + " shows a certificate that is not the one it names. Not paired.");
  }
  const std::string name = about.value("name", "");
  std::printf("Device: %s\nFingerprint: %s\nIt must be the fingerprint the device shows.\n", name.c_str(), fingerprint.c_str());
  if (!code) {
    std::printf("Code shown on the device: ");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) return fail("No code given. Not paired.");
    code = line;
  }
  std::string symbols;
  for (const char c : *code) {
    if (c == '-' || std::isspace(static_cast<unsigned char>(c))) continue;
    symbols += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }

  LaptopConfig config(LaptopConfig::defaultFolder());
  const std::string laptopId = config.laptopId();
  const std::string salt = std::string(kPairLabel) + fingerprint;
  const std::string key = Crypto::pbkdf2Sha256(symbols, salt, 100000, 32);
  const std::string proof = Bytes::hex(Crypto::hmacSha256(key, salt + "|" + laptopId));
  // From here on the certificate is the one just seen, and only it.
  DeviceConnection pinned(host, port, fingerprint);
  const Response paired =
      pinned.post("/v1/pair", {{"laptopId", laptopId}, {"laptopName", LaptopConfig::laptopName()}, {"proof", proof}});
  if (paired.status != 200) return fail(errorText(paired));
  const nlohmann::json answer = paired.json();
  const std::string token = answer.value("token", "");
  const std::string expected =
      Bytes::hex(Crypto::hmacSha256(key, std::string(kPairedLabel) + fingerprint + "|" + laptopId + "|" + token));
  if (token.empty() || !Bytes::equal(answer.value("proof", ""), expected)) {
    return fail("The device could not prove it showed that code. Not paired.");
  }
  config.save({host, port, fingerprint, token, answer.value("deviceId", ""), answer.value("name", name)});
  std::printf("Paired with %s.\n", answer.value("name", name).c_str());
  return 0;
}

// plural says a count of things: "1 photo", "3 photos".
std::string plural(std::int64_t n, const std::string& one, const std::string& many) {
  return n == 1 ? "1 " + one : Format::count(n) + " " + many;
}

// retryFor is how long a pull tries a lost connection again; tests shorten it.
std::chrono::milliseconds retryFor() {
  const char* wanted = std::getenv("LUMENVALE_LAPTOP_TEST_RETRY_MS");
  const std::optional<std::int64_t> ms = wanted ? Text::parseInteger(wanted) : std::nullopt;
  return ms && *ms >= 0 ? std::chrono::milliseconds(*ms) : std::chrono::milliseconds(60000);
}

int pullInto(const std::string& dest, int parallel) {
  const PairedDevice device = pairedDevice();
  HeldFiles held(dest);
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  PullOptions options;
  options.parallel = parallel;
  options.retryFor = retryFor();
  options.say = [terminal](const std::string& line) {
    std::printf(terminal ? "\r\033[K%s\n" : "%s\n", Text::printable(line).c_str());
    std::fflush(stdout);
  };
  if (terminal) {
    options.progress = [](const std::string& line) {
      std::printf("\r\033[K%s", line.c_str());
      std::fflush(stdout);
    };
  }
  const PullReport report = pull(device, held, options);
  if (terminal) std::printf("\n");
  std::printf("Copied %s (%s, %s bytes received) in %.1f s; %s held already",
              plural(report.copied, "file", "files").c_str(), Format::bytes(report.bytes).c_str(),
              Format::count(report.bytes).c_str(), report.seconds,
              (Format::count(report.held) + (report.held == 1 ? " was" : " were")).c_str());
  if (report.recognised > 0) {
    std::printf("; %s found in the folder already and kept in place",
                (Format::count(report.recognised) + (report.recognised == 1 ? " was" : " were")).c_str());
  }
  if (report.fetchedAgain > 0) {
    std::printf("; %s changed or gone here and fetched again",
                (Format::count(report.fetchedAgain) + (report.fetchedAgain == 1 ? " had" : " had")).c_str());
  }
  if (report.keptAside > 0) {
    std::printf("; %s kept aside, not overwritten", plural(report.keptAside, "file was", "files were").c_str());
  }
  if (report.failed > 0) std::printf("; %s could not be copied", Format::count(report.failed).c_str());
  std::printf(".\n");
  if (!report.stopped.empty()) {
    std::printf("Stopped: %s\nWhat was copied is kept; %s left to copy: run pull again to go on.\n",
                Text::printable(report.stopped).c_str(), plural(report.left, "file is", "files are").c_str());
  }
  return report.failed > 0 || !report.stopped.empty() ? 1 : 0;
}

// copyOf opens DEST's record for `safe` and `free`, which claim what it
// holds: a folder that is not there (a typo, a disk not plugged in), holds
// no copy, or holds another device's, is refused before anything is sent.
HeldFiles copyOf(const std::string& dest, const PairedDevice& device) {
  std::error_code error;
  if (!fs::is_directory(dest, error)) {
    throw std::runtime_error(dest + " is not a folder here. Is its disk plugged in? Nothing was sent.");
  }
  HeldFiles held(dest);
  if (held.files().empty() || held.deviceId().empty()) {
    throw std::runtime_error(dest + " holds no copy from " + device.name +
                             ": run `lumenvale-laptop pull " + dest + "` first. Nothing was sent.");
  }
  if (!device.deviceId.empty() && held.deviceId() != device.deviceId) {
    throw std::runtime_error(dest + " holds a copy of another device, not of " + device.name + ". Nothing was sent.");
  }
  return held;
}

// claimable checks the copy against DEST as it is now and groups what may
// be claimed by asset: id -> (key -> file), keeping only assets whose every
// file is held, checked and still holds those bytes. `look` says how hard
// to look; what is left out is said with why.
std::map<std::string, std::map<std::string, HeldFile>> claimable(HeldFiles& held, HeldFiles::Look look,
                                                                 const std::function<void(const std::string&)>& say,
                                                                 const std::function<void(std::size_t, std::size_t)>& checking) {
  std::map<std::string, std::map<std::string, HeldFile>> assets;
  std::set<std::string> leftOut;
  std::int64_t incomplete = 0;
  std::size_t done = 0;
  for (auto& [key, file] : held.files()) {
    const std::string asset = key.substr(0, key.rfind('/'));
    if (checking) checking(done++, held.files().size());
    if (held.freed().count(asset) != 0) continue;
    if (!file.verified) {
      if (leftOut.insert(asset).second) ++incomplete;
      continue;
    }
    const CopyState state = held.check(key, look);
    if (state != CopyState::kIntact) {
      say("left out: " + file.path + ": " +
          (state == CopyState::kMissing ? "it is no longer in " + held.dest()
                                        : std::string("its bytes changed here since it was checked")) +
          " (pull again to fetch it)");
      leftOut.insert(asset);
      continue;
    }
    assets[asset][key] = file;
  }
  for (const std::string& asset : leftOut) assets.erase(asset);
  if (incomplete > 0) say("left out: " + plural(incomplete, "photo or video is", "photos and videos are") + " not copied whole yet (pull first)");
  return assets;
}

int safe(const std::string& dest) {
  const PairedDevice device = pairedDevice();
  HeldFiles held = copyOf(dest, device);
  const auto say = [](const std::string& line) { std::printf("%s\n", Text::printable(line).c_str()); };
  const auto assets = claimable(held, HeldFiles::Look::kStamp, say, {});
  held.save();  // the stamps renewed by the check
  std::vector<nlohmann::json> items;
  for (const auto& [asset, files] : assets) items.push_back({{"id", asset}, {"modified", files.begin()->second.modified}});
  DeviceConnection connection(device.host, device.port, device.fingerprint, device.token);
  const std::string operation = Bytes::hex(Bytes::random(16));
  std::size_t at = 0;
  do {
    const std::size_t end = std::min(items.size(), at + kMaxItems);
    const nlohmann::json body = {{"operation", {{"id", operation}, {"total", items.size()}}},
                                 {"items", std::vector<nlohmann::json>(items.begin() + static_cast<std::ptrdiff_t>(at),
                                                                       items.begin() + static_cast<std::ptrdiff_t>(end))}};
    const Response answer = connection.post("/v1/safe", body);
    if (answer.status != 200) return fail(errorText(answer));
    at = end;
  } while (at < items.size());
  std::printf("%s now knows that this laptop holds %s safely.\n", Text::printable(device.name).c_str(),
              plural(static_cast<std::int64_t>(items.size()), "photo or video", "photos and videos").c_str());
  return 0;
}

// shownReason returns a reason code this laptop does not know, for the
// terminal: as given when it is a short code word, never the device's raw
// text, which could hold terminal control characters.
std::string shownReason(const std::string& reason) {
  const bool word = !reason.empty() && reason.size() <= 32 &&
                    reason.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string::npos;
  return word ? reason : "a reason this laptop does not know";
}

int freeSpace(const std::string& dest, bool dryRun) {
  const PairedDevice device = pairedDevice();
  HeldFiles held = copyOf(dest, device);
  // Every file is read again right before it is named: only bytes that are
  // in DEST now may free their original.
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  const auto say = [terminal](const std::string& line) {
    std::printf(terminal ? "\r\033[K%s\n" : "%s\n", Text::printable(line).c_str());
  };
  const auto checking = [terminal](std::size_t done, std::size_t total) {
    if (terminal && (done % 16 == 0 || done + 1 == total)) {
      std::printf("\r\033[KChecking the copies: %zu of %zu", done + 1, total);
      std::fflush(stdout);
    }
  };
  const auto assets = claimable(held, HeldFiles::Look::kHash, say, checking);
  if (terminal) std::printf("\r\033[K");
  held.save();
  // Requests of at most 500 files, each asset whole in one of them.
  std::vector<std::vector<std::string>> batches;
  std::size_t filesInBatch = 0;
  std::int64_t bytes = 0;
  for (const auto& [asset, files] : assets) {
    if (batches.empty() || filesInBatch + files.size() > kMaxItems) {
      batches.emplace_back();
      filesInBatch = 0;
    }
    batches.back().push_back(asset);
    filesInBatch += files.size();
    for (const auto& [key, file] : files) bytes += file.size;
  }
  const std::string what = assets.size() == 1 ? "1 photo or video" : Format::count(static_cast<std::int64_t>(assets.size())) + " photos and videos";
  if (assets.empty()) {
    std::printf("Nothing to free: %s holds no checked copy that the device still has.\n", Text::printable(dest).c_str());
    return 0;
  }
  if (dryRun) {
    std::printf("Would ask %s to delete %s (%s), in %zu request%s.\n", Text::printable(device.name).c_str(), what.c_str(),
                Format::bytes(bytes).c_str(), batches.size(), batches.size() == 1 ? "" : "s");
    return 0;
  }
  DeviceConnection connection(device.host, device.port, device.fingerprint, device.token);
  std::int64_t deleted = 0;
  for (const std::vector<std::string>& batch : batches) {
    nlohmann::json items = nlohmann::json::array();
    for (const std::string& asset : batch) {
      for (const auto& [key, file] : assets.at(asset)) {
        items.push_back({{"id", asset}, {"rid", key.substr(key.rfind('/') + 1)}, {"sha256", file.sha256}});
      }
    }
    std::printf("Asking %s to delete %s; its owner answers on the device...\n", Text::printable(device.name).c_str(),
                plural(static_cast<std::int64_t>(batch.size()), "photo or video", "photos and videos").c_str());
    std::fflush(stdout);
    const Response answer = connection.post("/v1/delete", {{"items", items}});
    if (answer.status != 200) {
      held.save();
      return fail(errorText(answer));
    }
    const nlohmann::json result = answer.json();
    for (const auto& id : result.value("deleted", nlohmann::json::array())) {
      const std::string asset = id.get<std::string>();
      held.freed().insert(asset);
      ++deleted;
      std::printf("deleted on the device: %s\n", Text::printable(assets.count(asset) ? assets.at(asset).begin()->second.path : asset).c_str());
    }
    for (const auto& kept : result.value("kept", nlohmann::json::array())) {
      const std::string asset = kept.value("id", "");
      const std::string reason = kept.value("reason", "");
      const std::string why = reason == "not_found"       ? "no longer on the device"
                              : reason == "incomplete"    ? "the device has other files for it now: pull again"
                              : reason == "hash_mismatch" ? "it changed on the device since the copy: pull again"
                              : reason == "changed"       ? "it changed on the device since the copy: pull again"
                              : reason == "no_trash"      ? "the device has no Trash on the disk that holds it"
                              : reason == "not_deleted"   ? "the device could not move it to the Trash"
                                                          : "the device kept it (" + shownReason(reason) + ")";
      std::printf("kept: %s: %s\n", Text::printable(assets.count(asset) ? assets.at(asset).begin()->second.path : asset).c_str(), why.c_str());
      if (reason == "not_found") held.freed().insert(asset);
    }
    held.save();
  }
  std::printf("%s deleted %s.\n", Text::printable(device.name).c_str(),
              plural(deleted, "photo or video", "photos and videos").c_str());
  return 0;
}

}  // namespace

int run(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return usage("say what to do.");
  const std::string& command = arguments[0];
  if (command == "--help" || command == "-h" || command == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  try {
    if (command == "find" && arguments.size() == 1) return find();
    if (command == "pair" && (arguments.size() == 2 || (arguments.size() == 4 && arguments[2] == "--code"))) {
      return pair(arguments[1], arguments.size() == 4 ? std::optional(arguments[3]) : std::nullopt);
    }
    if (command == "pull" && (arguments.size() == 2 || (arguments.size() == 4 && arguments[2] == "--parallel"))) {
      int parallel = 4;
      if (arguments.size() == 4) {
        const std::string& n = arguments[3];
        if (n.empty() || n.size() > 2 || n.find_first_not_of("0123456789") != std::string::npos || std::stoi(n) < 1 ||
            std::stoi(n) > 16) {
          return usage("--parallel takes 1 to 16.");
        }
        parallel = std::stoi(n);
      }
      return pullInto(arguments[1], parallel);
    }
    if (command == "safe" && arguments.size() == 2) return safe(arguments[1]);
    if (command == "free" && (arguments.size() == 2 || (arguments.size() == 3 && arguments[2] == "--dry-run"))) {
      return freeSpace(arguments[1], arguments.size() == 3);
    }
  } catch (const std::exception& failure) {
    return fail(failure.what());
  }
  return usage("\"" + command + "\" is not a command this takes, or its arguments are wrong.");
}

}  // namespace lumenvale::laptop
