// Fuzzes the loaders of the laptop's stored files: a copy folder's
// .lumenvale/held.json and the configuration's laptop.json, devices.json
// and the device.json of old (the input's first byte picks one, modulo 4;
// the rest is the file). A held.json that cannot be read is refused with
// std::runtime_error and nothing else; a broken laptop.json gives a new id,
// kept from then on; a device that does not read is left out. What loaded
// must read back the same after it was saved again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "laptop/held_files.h"
#include "laptop/laptop_config.h"

namespace lumenvale::fuzz {
namespace {

using laptop::HeldFiles;
using laptop::LaptopConfig;
using laptop::PairedDevice;

void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  require(static_cast<bool>(out), "the scratch file is written");
}

void heldJson(const std::string& dest, const std::string& text) {
  writeFile(dest + "/.lumenvale/held.json", text);
  std::optional<HeldFiles> held;
  try {
    held.emplace(dest);
  } catch (const std::runtime_error&) {
    return;
  }
  held->save();
  HeldFiles reloaded(dest);
  require(reloaded.files() == held->files(), "held.json reads back the files it was saved with");
  require(reloaded.freed() == held->freed() && reloaded.deviceId() == held->deviceId(),
          "held.json reads back the device and the freed assets");
}

void laptopJson(const std::string& folder, const std::string& text) {
  writeFile(folder + "/laptop.json", text);
  LaptopConfig config(folder);
  const std::string id = config.laptopId();
  require(id.size() == 32, "a laptop id has 32 characters");
  require(LaptopConfig(folder).laptopId() == id, "a laptop id is kept");
}

void devicesJson(const std::string& folder, const std::string& file, const std::string& text) {
  writeFile(folder + "/" + file, text);
  LaptopConfig config(folder);
  const std::vector<PairedDevice> devices = config.devices();
  for (const PairedDevice& device : devices) {
    require(device.fingerprint.size() == 64 && !device.token.empty(), "a device has a fingerprint and a token");
  }
  if (devices.empty()) return;
  config.save(devices.front());
  const std::vector<PairedDevice> again = LaptopConfig(folder).devices();
  require(std::find(again.begin(), again.end(), devices.front()) != again.end(), "a saved device reads back");
  require(again.size() <= devices.size(), "saving a device the laptop holds adds none");
}

}  // namespace
}  // namespace lumenvale::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale::fuzz;
  static ScratchFolder folder("laptop-stores");
  if (size == 0) return 0;
  folder.clear();
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: heldJson(folder.path(), text); break;
    case 1: laptopJson(folder.path(), text); break;
    case 2: devicesJson(folder.path(), "device.json", text); break;
    case 3: devicesJson(folder.path(), "devices.json", text); break;
  }
  return 0;
}
