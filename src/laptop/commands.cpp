#include "laptop/commands.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

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
#include <thread>

#include "laptop/device_connection.h"
#include "laptop/held_files.h"
#include "laptop/listing.h"
#include "laptop/laptop_config.h"
#include "laptop/find/finder.h"
#include "laptop/puller.h"
#include "laptop/reach.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/format.h"
#include "util/pair_proof.h"
#include "util/text.h"

namespace lumenvale::laptop {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kFirstPort = 41820;
constexpr std::size_t kMaxItems = 500;

int fail(const std::string& message) {
  std::fprintf(stderr, "lumenvale-laptop: %s\n", message.c_str());
  return 1;
}

int usage(const std::string& message) {
  std::fprintf(stderr, "lumenvale-laptop: %s\nRun `lumenvale-laptop --help` to see what it takes.\n", message.c_str());
  return 2;
}

// How a command speaks: to a person (with --quiet only its outcome and its
// problems, with --verbose every file), or to a script (--json: its outcome
// as one JSON object on standard output, and nothing else there).
struct Output {
  bool quiet = false;
  bool verbose = false;
  bool json = false;
  bool terminal = ::isatty(STDOUT_FILENO) == 1;

  // line prints what a person follows along with: not with --quiet, nor
  // for a script.
  void line(const std::string& text) const {
    if (quiet || json) return;
    problem(text);
  }
  // problem prints what went wrong or was left out: on standard error for
  // a script, so its standard output stays one JSON object.
  void problem(const std::string& text) const {
    std::FILE* to = json ? stderr : stdout;
    std::fprintf(to, terminal && !json ? "\r\033[K%s\n" : "%s\n", Text::printable(text).c_str());
    std::fflush(to);
  }
  // outcome prints the closing sentence for a person; a script gets `result`.
  void outcome(const std::string& text, const nlohmann::json& result) const {
    if (json) {
      object(result);
    } else {
      std::printf("%s\n", Text::printable(text).c_str());
    }
    std::fflush(stdout);
  }
  bool progress() const { return terminal && !quiet && !json; }
  // object prints one JSON object on its own line, for a script.
  static void object(const nlohmann::json& value) {
    std::printf("%s\n", value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }
};

// chosenDevice is the device a command on `dest` is for: the one `wanted`
// names, or the one DEST holds a copy of, or the only one.
PairedDevice chosenDevice(const std::string& dest, const std::string& wanted) {
  std::error_code error;
  const std::string copyOf = std::filesystem::exists(dest + "/.lumenvale/held.json", error) ? HeldFiles(dest).deviceId() : "";
  return LaptopConfig(LaptopConfig::defaultFolder()).pick(wanted, copyOf);
}

// pairedDevice is that device where it answers now.
PairedDevice pairedDevice(const std::string& dest, const std::string& wanted) {
  return reachDevice(chosenDevice(dest, wanted), networkReach(LaptopConfig::defaultFolder()));
}

int find(const Output& out) {
  const std::vector<FoundDevice> devices = findDevices(std::chrono::seconds(3));
  for (const FoundDevice& device : devices) {
    if (out.json) {
      Output::object({{"name", device.name},
                      {"host", device.host},
                      {"addresses", device.addresses},
                      {"port", device.port},
                      {"deviceId", device.deviceId},
                      {"fingerprintPrefix", device.fingerprintPrefix}});
      continue;
    }
    std::string addresses;
    for (const std::string& address : device.addresses) addresses += (addresses.empty() ? "" : ", ") + address;
    // What the network says reaches the terminal escaped.
    std::printf("%s\t%s\tport %u\tfingerprint %s...\n", Text::printable(device.name).c_str(),
                Text::printable(addresses).c_str(), static_cast<unsigned>(device.port),
                Text::printable(device.fingerprintPrefix).c_str());
  }
  if (devices.empty() && !out.json) std::printf("No device found. Is Lumenvale running on the same network?\n");
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
  const std::string key = PairProof::key(symbols, fingerprint);
  const std::string proof = PairProof::laptop(key, fingerprint, laptopId);
  // From here on the certificate is the one just seen, and only it.
  DeviceConnection pinned(host, port, fingerprint);
  const Response paired =
      pinned.post("/v1/pair", {{"laptopId", laptopId}, {"laptopName", LaptopConfig::laptopName()}, {"proof", proof}});
  if (paired.status != 200) return fail(errorText(paired));
  const nlohmann::json answer = paired.json();
  const std::string token = answer.value("token", "");
  const std::string expected = PairProof::phone(key, fingerprint, laptopId, token);
  if (token.empty() || !Bytes::equal(answer.value("proof", ""), expected)) {
    return fail("The device could not prove it showed that code. Not paired.");
  }
  const PairedDevice now{host, port, fingerprint, token, answer.value("deviceId", ""), answer.value("name", name)};
  const std::optional<PairedDevice> replaced = config.save(now);
  if (replaced) {
    std::printf("Paired with %s again: this replaces the pairing of %s%s.\n", Text::printable(now.name).c_str(),
                Text::printable(replaced->name).c_str(),
                replaced->host == host && replaced->port == port
                    ? ""
                    : (" at " + Text::printable(replaced->host) + ":" + std::to_string(replaced->port)).c_str());
  } else {
    std::printf("Paired with %s.\n", Text::printable(now.name).c_str());
  }
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

int pullInto(const std::string& dest, const std::string& wanted, int parallel, const Output& out) {
  const PairedDevice device = pairedDevice(dest, wanted);
  HeldFiles held(dest);
  PullOptions options;
  options.parallel = parallel;
  options.retryFor = retryFor();
  options.say = [&out](const std::string& line) {
    // Per-file lines; what went wrong or was moved aside is always said.
    const bool problem = line.starts_with("not copied") || line.starts_with("kept ");
    if (problem) {
      out.problem(line);
    } else if (out.verbose || !out.progress()) {
      out.line(line);
    }
  };
  if (out.verbose && !out.json) options.say = [&out](const std::string& line) { out.problem(line); };
  if (out.progress()) {
    options.progress = [](const std::string& line) {
      std::printf("\r\033[K%s", line.c_str());
      std::fflush(stdout);
    };
  }
  const PullReport report = pull(device, held, options);
  if (out.progress()) std::printf("\r\033[K");
  std::string text = "Copied " + plural(report.copied, "file", "files") + " (" + Format::bytes(report.bytes) + ", " +
                     Format::count(report.bytes) + " bytes received) in " + Format::count(static_cast<std::int64_t>(report.seconds)) +
                     "." + std::to_string(static_cast<int>(report.seconds * 10) % 10) + " s; " + Format::count(report.held) +
                     (report.held == 1 ? " was" : " were") + " held already";
  if (report.recognised > 0) {
    text += "; " + Format::count(report.recognised) + (report.recognised == 1 ? " was" : " were") +
            " found in the folder already and kept in place";
  }
  if (report.fetchedAgain > 0) text += "; " + Format::count(report.fetchedAgain) + " had changed or gone here and fetched again";
  if (report.keptAside > 0) text += "; " + plural(report.keptAside, "file was", "files were") + " kept aside, not overwritten";
  if (report.failed > 0) text += "; " + Format::count(report.failed) + " could not be copied";
  text += ".";
  if (!report.stopped.empty()) {
    text += "\nStopped: " + report.stopped + "\nWhat was copied is kept; " + plural(report.left, "file is", "files are") +
            " left to copy: run pull again to go on.";
  }
  out.outcome(text, {{"copied", report.copied},
                     {"held", report.held},
                     {"recognised", report.recognised},
                     {"fetchedAgain", report.fetchedAgain},
                     {"keptAside", report.keptAside},
                     {"failed", report.failed},
                     {"left", report.left},
                     {"bytes", report.bytes},
                     {"seconds", report.seconds},
                     {"stopped", report.stopped.empty() ? nlohmann::json() : nlohmann::json(report.stopped)}});
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

// What may be claimed of a copy: by asset, id -> (key -> file), and what was
// left out, (where, why).
struct Claim {
  std::map<std::string, std::map<std::string, HeldFile>> assets;
  std::vector<std::pair<std::string, std::string>> leftOut;
};

// claimable checks the copy against DEST as it is now, keeping only assets
// whose every file is held, checked and still holds those bytes. `look`
// says how hard to look; `checking` is told how far it got.
Claim claimable(HeldFiles& held, HeldFiles::Look look, const std::function<void(std::size_t, std::size_t)>& checking) {
  Claim claim;
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
      claim.leftOut.emplace_back(file.path, (state == CopyState::kMissing ? "it is no longer in " + held.dest()
                                                                           : std::string("its bytes changed here since it was checked")) +
                                                " (pull again to fetch it)");
      leftOut.insert(asset);
      continue;
    }
    claim.assets[asset][key] = file;
  }
  for (const std::string& asset : leftOut) claim.assets.erase(asset);
  if (incomplete > 0) {
    claim.leftOut.emplace_back(plural(incomplete, "photo or video", "photos and videos"), "not copied whole yet (pull first)");
  }
  return claim;
}

nlohmann::json leftOutJson(const Claim& claim) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& [what, why] : claim.leftOut) list.push_back({{"path", what}, {"why", why}});
  return list;
}

int safe(const std::string& dest, const std::string& wanted, const Output& out) {
  const PairedDevice device = pairedDevice(dest, wanted);
  HeldFiles held = copyOf(dest, device);
  const Claim claim = claimable(held, HeldFiles::Look::kStamp, {});
  for (const auto& [what, why] : claim.leftOut) out.problem("left out: " + what + ": " + why);
  held.save();  // the stamps renewed by the check
  std::vector<nlohmann::json> items;
  for (const auto& [asset, files] : claim.assets) items.push_back({{"id", asset}, {"modified", files.begin()->second.modified}});
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
  out.outcome(device.name + " now knows that this laptop holds " +
                  plural(static_cast<std::int64_t>(items.size()), "photo or video", "photos and videos") + " safely.",
              {{"safe", items.size()}, {"leftOut", leftOutJson(claim)}});
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

// ageInDays reads an age as `free --older-than` takes it: whole days ("30",
// "30d"), weeks ("2w") or years of 365 days ("1y"); nothing otherwise.
std::optional<std::int64_t> ageInDays(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const char unit = text.back();
  const bool hasUnit = unit == 'd' || unit == 'w' || unit == 'y';
  const std::string digits = hasUnit ? text.substr(0, text.size() - 1) : text;
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const std::int64_t n = std::stoll(digits);
  return unit == 'w' ? n * 7 : unit == 'y' ? n * 365 : n;
}

// What stays on the device whatever the laptop holds: the photos taken in
// the last `olderThanDays`, and the newest `keepRecent`.
struct Keep {
  std::optional<std::int64_t> olderThanDays;
  std::optional<std::int64_t> keepRecent;
};

// kept removes from `claim` what `keep` says stays on the device, judged by
// when each was taken as the device lists it now; the number removed.
std::int64_t applyKeep(const PairedDevice& device, const Keep& keep, Claim& claim) {
  if (!keep.olderThanDays && !keep.keepRecent) return 0;
  std::vector<std::pair<Format::TimePoint, std::string>> taken;  // newest first, below
  std::set<std::string> undated;
  for (const ListedAsset& asset : listAssets(device)) {
    const std::optional<Format::TimePoint> when = Format::parseIso8601(asset.created);
    if (when) {
      taken.emplace_back(*when, asset.id);
    } else {
      undated.insert(asset.id);
    }
  }
  std::sort(taken.begin(), taken.end(), [](const auto& a, const auto& b) { return a.first > b.first || (a.first == b.first && a.second > b.second); });
  std::set<std::string> stays = undated;  // a photo of unknown age is never judged old
  std::set<std::string> listed = undated;
  const auto cutoff = std::chrono::system_clock::now() - std::chrono::hours(24) * keep.olderThanDays.value_or(0);
  for (std::size_t i = 0; i < taken.size(); ++i) {
    listed.insert(taken[i].second);
    if (keep.keepRecent && static_cast<std::int64_t>(i) < *keep.keepRecent) stays.insert(taken[i].second);
    if (keep.olderThanDays && taken[i].first > cutoff) stays.insert(taken[i].second);
  }
  std::int64_t removed = 0;
  for (auto at = claim.assets.begin(); at != claim.assets.end();) {
    // One the device no longer lists is past judging: it is gone already.
    if (stays.count(at->first) != 0 || listed.count(at->first) == 0) {
      at = claim.assets.erase(at);
      ++removed;
    } else {
      ++at;
    }
  }
  return removed;
}

int freeSpace(const std::string& dest, const std::string& wanted, bool dryRun, const Keep& keep, const Output& out) {
  const PairedDevice device = pairedDevice(dest, wanted);
  HeldFiles held = copyOf(dest, device);
  // Every file is read again right before it is named: only bytes that are
  // in DEST now may free their original.
  const auto checking = [&out](std::size_t done, std::size_t total) {
    if (out.progress() && (done % 16 == 0 || done + 1 == total)) {
      std::printf("\r\033[KChecking the copies: %zu of %zu", done + 1, total);
      std::fflush(stdout);
    }
  };
  Claim claim = claimable(held, HeldFiles::Look::kHash, checking);
  if (out.progress()) std::printf("\r\033[K");
  held.save();
  for (const auto& [what, why] : claim.leftOut) out.problem("left out: " + what + ": " + why);
  const std::int64_t staying = applyKeep(device, keep, claim);
  if (staying > 0) out.line(plural(staying, "photo or video stays", "photos and videos stay") + " on the device, as asked.");
  const auto& assets = claim.assets;
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
  const std::string what = plural(static_cast<std::int64_t>(assets.size()), "photo or video", "photos and videos");
  nlohmann::json result = {{"dryRun", dryRun}, {"asked", assets.size()}, {"bytes", bytes},
                           {"staying", staying}, {"leftOut", leftOutJson(claim)}};
  if (assets.empty()) {
    result["deleted"] = nlohmann::json::array();
    result["kept"] = nlohmann::json::array();
    out.outcome("Nothing to free: " + dest + " holds no checked copy that the device still has" +
                    (staying > 0 ? " and should let go of." : "."),
                result);
    return 0;
  }
  if (dryRun) {
    nlohmann::json paths = nlohmann::json::array();
    for (const auto& [asset, files] : assets) {
      for (const auto& [key, file] : files) {
        paths.push_back(file.path);
        if (out.verbose) out.line("would free: " + file.path);
      }
    }
    result["wouldDelete"] = paths;
    out.outcome("Would ask " + device.name + " to delete " + what + " (" + Format::bytes(bytes) + "), in " +
                    plural(static_cast<std::int64_t>(batches.size()), "request", "requests") + ".",
                result);
    return 0;
  }
  DeviceConnection connection(device.host, device.port, device.fingerprint, device.token);
  std::int64_t deleted = 0;
  nlohmann::json deletedJson = nlohmann::json::array();
  nlohmann::json keptJson = nlohmann::json::array();
  const auto where = [&assets](const std::string& asset) {
    return assets.count(asset) ? assets.at(asset).begin()->second.path : asset;
  };
  for (const std::vector<std::string>& batch : batches) {
    nlohmann::json items = nlohmann::json::array();
    for (const std::string& asset : batch) {
      for (const auto& [key, file] : assets.at(asset)) {
        items.push_back({{"id", asset}, {"rid", key.substr(key.rfind('/') + 1)}, {"sha256", file.sha256}});
      }
    }
    out.line("Asking " + device.name + " to delete " +
             plural(static_cast<std::int64_t>(batch.size()), "photo or video", "photos and videos") +
             "; its owner answers on the device...");
    const Response answer = connection.post("/v1/delete", {{"items", items}});
    if (answer.status != 200) {
      held.save();
      return fail(errorText(answer));
    }
    const nlohmann::json response = answer.json();
    for (const auto& id : response.value("deleted", nlohmann::json::array())) {
      if (!id.is_string()) continue;
      const std::string asset = id.get<std::string>();
      held.freed().insert(asset);
      ++deleted;
      deletedJson.push_back(where(asset));
      out.line("deleted on the device: " + where(asset));
    }
    for (const auto& kept : response.value("kept", nlohmann::json::array())) {
      if (!kept.is_object()) continue;
      const std::string asset = kept.value("id", "");
      const std::string reason = kept.value("reason", "");
      const std::string why = reason == "not_found"       ? "no longer on the device"
                              : reason == "incomplete"    ? "the device has other files for it now: pull again"
                              : reason == "hash_mismatch" ? "it changed on the device since the copy: pull again"
                              : reason == "changed"       ? "it changed on the device since the copy: pull again"
                              : reason == "no_trash"      ? "the device has no Trash on the disk that holds it"
                              : reason == "not_deleted"   ? "the device could not move it to the Trash"
                                                          : "the device kept it (" + shownReason(reason) + ")";
      keptJson.push_back({{"path", where(asset)}, {"reason", shownReason(reason)}});
      out.problem("kept: " + where(asset) + ": " + why);
      if (reason == "not_found") held.freed().insert(asset);
    }
    held.save();
  }
  result["deleted"] = deletedJson;
  result["kept"] = keptJson;
  out.outcome(device.name + " deleted " + plural(deleted, "photo or video", "photos and videos") + ".", result);
  return 0;
}

// listingDigest sums up the device's library as listed now (every asset
// and its version): the same digest, nothing to copy.
std::string listingDigest(const PairedDevice& device) {
  Crypto::Sha256 digest;
  for (const ListedAsset& asset : listAssets(device)) {
    digest.update(asset.id + "|" + asset.modified + "|");
    for (const ListedResource& resource : asset.resources) digest.update(resource.rid + ",");
    digest.update("\n");
  }
  return Bytes::hex(digest.finish());
}

// watch keeps DEST a copy of the device without anyone running anything:
// whenever the device can be reached and its library changed since the
// last good copy, it pulls and then tells the device what is safe. It
// goes on through the device going away and coming back (at another
// address or port too), sleep and network changes; `free` is never run
// here. Its lines are for the journal: what changed, once.
int watch(const std::string& dest, const std::string& wanted, std::chrono::seconds every, bool once, const Output& given) {
  Output out = given;
  out.quiet = !given.verbose;  // a line per outcome, not per file
  out.terminal = false;
  std::string copied;  // the digest of the library last copied whole
  std::optional<std::string> away;  // why the device could not be reached, once said
  for (;;) {
    int status = 0;
    try {
      const PairedDevice chosen = chosenDevice(dest, wanted);
      std::optional<PairedDevice> device;
      try {
        device = reachDevice(chosen, networkReach(LaptopConfig::defaultFolder()));
      } catch (const std::exception& failure) {
        // Away (a laptop out of the house, a device asleep): nothing wrong
        // with the copy; looked at again later.
        if (away != failure.what()) {
          std::printf("%s Trying again %s.\n", Text::printable(failure.what()).c_str(),
                      once ? "at the next look" : ("every " + std::to_string(every.count()) + " s").c_str());
        }
        away = failure.what();
      }
      if (device) {
        if (away) {
          std::printf("%s answers again at %s:%u.\n", Text::printable(device->name).c_str(),
                      Text::printable(device->host).c_str(), static_cast<unsigned>(device->port));
        }
        away.reset();
        const std::string now = listingDigest(*device);
        if (now != copied) {
          status = pullInto(dest, wanted, 4, out);
          // An empty library leaves nothing to report.
          if (status == 0 && !HeldFiles(dest).files().empty()) status = safe(dest, wanted, out);
          if (status == 0) copied = now;
        }
      }
    } catch (const std::exception& failure) {
      // What a look cannot get past by waiting: no such device paired, a
      // copy folder that cannot be read.
      status = 1;
      if (away != failure.what()) std::printf("%s\n", Text::printable(failure.what()).c_str());
      away = failure.what();
    }
    std::fflush(stdout);
    if (once) return status;
    std::this_thread::sleep_for(every);
  }
}

int devices(const Output& out) {
  const std::vector<PairedDevice> paired = LaptopConfig(LaptopConfig::defaultFolder()).devices();
  for (const PairedDevice& device : paired) {
    if (out.json) {
      Output::object({{"name", device.name},
                      {"host", device.host},
                      {"port", device.port},
                      {"deviceId", device.deviceId},
                      {"fingerprint", device.fingerprint}});
      continue;
    }
    std::printf("%s\t%s:%u\tid %s\tfingerprint %s...\n", Text::printable(device.name).c_str(),
                Text::printable(device.host).c_str(), static_cast<unsigned>(device.port),
                Text::printable(device.deviceId).c_str(), device.fingerprint.substr(0, 16).c_str());
  }
  if (paired.empty() && !out.json) std::printf("This laptop is not paired with any device.\n");
  return 0;
}

int forget(const std::string& wanted) {
  LaptopConfig config(LaptopConfig::defaultFolder());
  const PairedDevice device = config.pick(wanted, "");
  config.forget(device.deviceId);
  std::printf("Forgot %s. It still lists this laptop until it is forgotten there too (its Laptops tab).\n",
              Text::printable(device.name).c_str());
  return 0;
}

}  // namespace

int run(const std::vector<std::string>& arguments) {
  CLI::App app("Copies the photos of a Lumenvale device to this laptop, checking every file, and frees space on the\n"
               "device once they are safe here.",
               "lumenvale-laptop");
  app.set_version_flag("--version", std::string("lumenvale-laptop ") + LUMENVALE_VERSION);
  app.require_subcommand(1);
  // Options of the program may come after the command too.
  app.fallthrough();
  Output out;
  app.add_flag("-q,--quiet", out.quiet, "print only the outcome and what went wrong");
  app.add_flag("-v,--verbose", out.verbose, "print every file as it is copied or checked");

  CLI::App* findCommand = app.add_subcommand("find", "list the Lumenvale devices on this network");
  findCommand->add_flag("--json", out.json, "one JSON object per device, for scripts");

  CLI::App* pairCommand = app.add_subcommand("pair", "pair with a device: compare its fingerprint, type the code it shows");
  std::string target;
  std::string code;
  pairCommand->add_option("HOST[:PORT]", target, "the device's address, as `find` or the device shows it")->required();
  pairCommand->add_option("--code", code, "the code the device shows (asked for when not given)");

  CLI::App* devicesCommand = app.add_subcommand("devices", "list the devices this laptop is paired with");
  devicesCommand->add_flag("--json", out.json, "one JSON object per device, for scripts");

  std::string wanted;
  CLI::App* forgetCommand = app.add_subcommand("forget", "forget a paired device on this laptop");
  forgetCommand->add_option("DEVICE", wanted, "its name, or the start of its id")->required();

  std::string dest;
  CLI::App* watchCommand =
      app.add_subcommand("watch", "keep DEST a copy of the device: pull and report safe whenever it is reachable and changed");
  std::int64_t every = 300;
  bool once = false;
  watchCommand->add_option("DEST", dest, "the folder that holds this laptop's copy")->required();
  watchCommand->add_option("--device", wanted, "the paired device, by its name or the start of its id (when there are several)");
  watchCommand->add_option("--every", every, "seconds between looks at the device (default 300)")->check(CLI::Range(1, 86400));
  watchCommand->add_flag("--once", once, "look once, copy what changed, and end (for a timer)");

  CLI::App* pullCommand = app.add_subcommand("pull", "copy the device's library into DEST/YYYY/MM/, checking every file");
  int parallel = 4;
  pullCommand->add_option("DEST", dest, "the folder that holds this laptop's copy")->required();
  pullCommand->add_option("--device", wanted, "the paired device, by its name or the start of its id (when there are several)");
  pullCommand->add_option("--parallel", parallel, "files copied at once (1 to 16)")->check(CLI::Range(1, 16))->default_val(4);
  pullCommand->add_flag("--json", out.json, "the outcome as one JSON object, for scripts");

  CLI::App* safeCommand = app.add_subcommand("safe", "tell the device which photos DEST holds safely");
  safeCommand->add_option("DEST", dest, "the folder that holds this laptop's copy")->required();
  safeCommand->add_option("--device", wanted, "the paired device, by its name or the start of its id (when there are several)");
  safeCommand->add_flag("--json", out.json, "the outcome as one JSON object, for scripts");

  CLI::App* freeCommand = app.add_subcommand("free", "ask the device to delete what DEST holds safely; its owner says yes or no");
  bool dryRun = false;
  std::string olderThan;
  std::int64_t keepRecent = -1;
  freeCommand->add_option("DEST", dest, "the folder that holds this laptop's copy")->required();
  freeCommand->add_option("--device", wanted, "the paired device, by its name or the start of its id (when there are several)");
  freeCommand->add_flag("--dry-run", dryRun, "say what would be asked, and ask nothing");
  freeCommand->add_option("--older-than", olderThan, "free only photos taken longer ago than AGE: days (30 or 30d), weeks (2w), years (1y)");
  freeCommand->add_option("--keep-recent", keepRecent, "keep the newest N photos and videos on the device")->check(CLI::NonNegativeNumber);
  freeCommand->add_flag("--json", out.json, "the outcome as one JSON object, for scripts");

  // A word where the command goes that names none is the likeliest slip.
  if (!arguments.empty() && !arguments[0].starts_with("-") && app.get_subcommands([&](CLI::App* command) {
        return command->get_name() == arguments[0];
      }).empty()) {
    return usage("\"" + arguments[0] + "\" is not a command: say find, pair, devices, forget, watch, pull, safe or free.");
  }
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
    if (out.quiet && out.verbose) throw CLI::ValidationError("--quiet and --verbose", "say one or the other, not both");
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    std::fprintf(stderr, "lumenvale-laptop: %s\nRun `lumenvale-laptop --help` to see what it takes.\n", error.what());
    return 2;
  }
  std::optional<std::int64_t> olderThanDays;
  if (!olderThan.empty()) {
    olderThanDays = ageInDays(olderThan);
    if (!olderThanDays) return usage("--older-than takes an age such as 30d, 2w or 1y, not \"" + olderThan + "\".");
  }
  try {
    if (findCommand->parsed()) return find(out);
    if (pairCommand->parsed()) return pair(target, code.empty() ? std::nullopt : std::optional(code));
    if (devicesCommand->parsed()) return devices(out);
    if (forgetCommand->parsed()) return forget(wanted);
    if (watchCommand->parsed()) return watch(dest, wanted, std::chrono::seconds(every), once, out);
    if (pullCommand->parsed()) return pullInto(dest, wanted, parallel, out);
    if (safeCommand->parsed()) return safe(dest, wanted, out);
    if (freeCommand->parsed()) {
      return freeSpace(dest, wanted, dryRun, {olderThanDays, keepRecent >= 0 ? std::optional(keepRecent) : std::nullopt}, out);
    }
  } catch (const std::exception& failure) {
    return fail(failure.what());
  }
  return usage("say what to do.");
}

}  // namespace lumenvale::laptop
