// Fuzzes the loaders of the device's stored files: laptops.json, safe.json
// and settings.json (the input's first byte picks one, modulo 3; the rest is
// the file). Loading never fails, whatever the file holds. What loaded must
// survive the store's next write: a store loaded again from the file it
// rewrote holds the same.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "pairing/laptops.h"
#include "platform/settings.h"
#include "safety/safe_marks.h"

namespace lumenvale::fuzz {
namespace {

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  require(static_cast<bool>(out), "the scratch file is written");
}

void laptopsJson(const std::string& path) {
  Laptops laptops(path);
  const std::vector<Laptop> loaded = laptops.all();
  for (std::size_t i = 1; i < loaded.size(); ++i) {
    require(loaded[i - 1].pairedAt >= loaded[i].pairedAt, "laptops are listed newest first");
  }
  // Adding a laptop the file does not hold rewrites it with every one loaded.
  std::string probe = "fuzz-probe";
  const auto taken = [&] {
    return std::any_of(loaded.begin(), loaded.end(), [&](const Laptop& laptop) { return laptop.id == probe; });
  };
  while (taken()) probe += "+";
  laptops.add(probe, "Probe", "probe-token", TimePoint(std::chrono::seconds(1)));
  const std::vector<Laptop> written = laptops.all();
  require(written.size() == loaded.size() + 1, "adding a laptop loses no other");
  require(Laptops(path).all() == written, "laptops.json reads back what it was rewritten with");
}

void safeJson(const std::string& path, const std::string& text) {
  SafeMarks marks(path);
  const std::set<std::string> loaded = marks.ids();
  // What the file says, when the whole of it loaded: laptop -> asset -> modified time.
  const nlohmann::json stored = nlohmann::json::parse(text, nullptr, false);
  std::string probe = "fuzz-probe";
  while (stored.is_object() && stored.contains(probe)) probe += "+";
  // A complete empty list from a laptop the file does not hold rewrites the
  // file with every mark.
  require(marks.receive(probe, {}, "op", 0), "an empty list of total 0 completes");
  require(marks.ids() == loaded, "an empty list adds no mark");
  SafeMarks reloaded(path);
  require(reloaded.ids() == loaded, "safe.json reads back what it was rewritten with");
  if (loaded.empty()) return;
  // Something loaded, so the file had the whole shape: laptop -> asset -> time.
  for (const auto& [laptop, assets] : stored.items()) {
    for (const auto& [asset, modified] : assets.items()) {
      // A mark whose id or time could never have been sent is dropped.
      if (!SafeMarks::validItem(asset, modified.get<std::string>())) continue;
      const std::vector<std::string> holding = reloaded.laptops(asset, modified.get<std::string>());
      require(std::find(holding.begin(), holding.end(), laptop) != holding.end(), "every mark in the file is kept");
    }
  }
}

void settingsJson(const std::string& path, const std::string& text) {
  Settings settings(path);
  const bool allowDelete = settings.allowDelete();
  const nlohmann::json stored = nlohmann::json::parse(text, nullptr, false);
  const std::optional<nlohmann::json> storedAllowDelete = settings.get("allowDelete");
  require(allowDelete == (storedAllowDelete && *storedAllowDelete == true), "allowDelete is on only when set true");
  require(settings.set("welcomed", true), "a setting is written");
  require(settings.get("welcomed") == nlohmann::json(true), "a setting reads back");
  if (stored.is_object()) {
    for (const auto& [key, value] : stored.items()) {
      if (key == "welcomed") continue;
      require(settings.get(key) == value, "writing one setting keeps every other");
    }
  }
}

}  // namespace
}  // namespace lumenvale::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale::fuzz;
  static ScratchFolder folder("device-stores");
  if (size == 0) return 0;
  folder.clear();
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string path = folder.path() + "/store.json";
  writeFile(path, text);
  switch (data[0] % 3) {
    case 0: laptopsJson(path); break;
    case 1: safeJson(path, text); break;
    case 2: settingsJson(path, text); break;
  }
  return 0;
}
