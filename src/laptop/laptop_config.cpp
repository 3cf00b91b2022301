#include "laptop/laptop_config.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "util/atomic_file.h"
#include "util/bytes.h"

namespace lumenvale::laptop {

std::string LaptopConfig::defaultFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/lumenvale-laptop";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && home[0] == '/' ? home : "/tmp") + "/.config/lumenvale-laptop";
}

LaptopConfig::LaptopConfig(std::string folder) : folder_(std::move(folder)) {}

void LaptopConfig::write(const std::string& name, const std::string& text) {
  if (!AtomicFile::makeDirectories(folder_, 0700) || !AtomicFile::write(folder_ + "/" + name, text, 0600)) {
    throw std::runtime_error("Cannot write " + folder_ + "/" + name + ".");
  }
}

std::string LaptopConfig::laptopId() {
  const nlohmann::json stored = nlohmann::json::parse(AtomicFile::read(folder_ + "/laptop.json").value_or(""), nullptr, false);
  // Anything but a 32-character text is no id of ours and is replaced.
  const auto kept = stored.find("id");
  if (kept != stored.end() && kept->is_string() && kept->get_ref<const std::string&>().size() == 32) return *kept;
  const std::string id = Bytes::hex(Bytes::random(16));
  write("laptop.json", nlohmann::json({{"id", id}}).dump(2) + "\n");
  return id;
}

std::string LaptopConfig::laptopName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "Laptop";
  return name;
}

namespace {

// deviceFrom reads one device as save() writes it, or nothing.
std::optional<PairedDevice> deviceFrom(const nlohmann::json& stored) {
  if (!stored.is_object()) return std::nullopt;
  try {
    PairedDevice device;
    device.host = stored.at("host");
    // Converting any other number to 16 bits would wrap, or be undefined
    // for a fraction out of range, and connect to some other port.
    const nlohmann::json& port = stored.at("port");
    if (!port.is_number_unsigned() || port.get<std::uint64_t>() > 65535) return std::nullopt;
    device.port = port.get<std::uint16_t>();
    device.fingerprint = stored.at("fingerprint");
    device.token = stored.at("token");
    device.deviceId = stored.value("deviceId", "");
    device.name = stored.value("name", "");
    if (device.fingerprint.size() != 64 || device.token.empty()) return std::nullopt;
    return device;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

nlohmann::json deviceJson(const PairedDevice& device) {
  return {{"host", device.host},   {"port", device.port},         {"fingerprint", device.fingerprint},
          {"token", device.token}, {"deviceId", device.deviceId}, {"name", device.name}};
}

bool same(const PairedDevice& a, const PairedDevice& b) {
  if (!a.deviceId.empty() || !b.deviceId.empty()) return a.deviceId == b.deviceId;
  return a.host == b.host && a.port == b.port;
}

std::string named(const std::vector<PairedDevice>& devices) {
  std::string list;
  for (const PairedDevice& device : devices) {
    list += (list.empty() ? "" : ", ") + device.name + " (" + device.deviceId.substr(0, 8) + ")";
  }
  return list;
}

}  // namespace

std::vector<PairedDevice> LaptopConfig::devices() const {
  std::vector<PairedDevice> devices;
  const std::optional<std::string> text = AtomicFile::read(folder_ + "/devices.json");
  if (!text) {
    const nlohmann::json old = nlohmann::json::parse(AtomicFile::read(folder_ + "/device.json").value_or(""), nullptr, false);
    if (std::optional<PairedDevice> device = deviceFrom(old)) devices.push_back(std::move(*device));
    return devices;
  }
  const nlohmann::json stored = nlohmann::json::parse(*text, nullptr, false);
  if (!stored.is_object() || !stored.contains("devices") || !stored["devices"].is_array()) return devices;
  for (const nlohmann::json& entry : stored["devices"]) {
    if (std::optional<PairedDevice> device = deviceFrom(entry)) devices.push_back(std::move(*device));
  }
  return devices;
}

std::optional<PairedDevice> LaptopConfig::save(const PairedDevice& device) {
  std::vector<PairedDevice> devices = this->devices();
  std::optional<PairedDevice> replaced;
  for (PairedDevice& kept : devices) {
    if (!same(kept, device)) continue;
    replaced = kept;
    kept = device;
  }
  if (!replaced) devices.push_back(device);
  writeDevices(devices);
  return replaced;
}

void LaptopConfig::writeDevices(const std::vector<PairedDevice>& devices) {
  nlohmann::json list = nlohmann::json::array();
  for (const PairedDevice& kept : devices) list.push_back(deviceJson(kept));
  write("devices.json", nlohmann::json({{"devices", list}}).dump(2) + "\n");
  // The record of old, of one device, has been carried over.
  std::error_code ignored;
  std::filesystem::remove(folder_ + "/device.json", ignored);
}

bool LaptopConfig::forget(const std::string& deviceId) {
  std::vector<PairedDevice> devices = this->devices();
  const auto gone = std::remove_if(devices.begin(), devices.end(), [&](const PairedDevice& d) { return d.deviceId == deviceId; });
  if (gone == devices.end()) return false;
  devices.erase(gone, devices.end());
  writeDevices(devices);
  return true;
}

PairedDevice LaptopConfig::pick(const std::string& wanted, const std::string& copyOf) const {
  const std::vector<PairedDevice> devices = this->devices();
  if (devices.empty()) throw std::runtime_error("This laptop is not paired yet: run `lumenvale-laptop pair HOST` first.");
  if (!wanted.empty()) {
    std::vector<PairedDevice> matching;
    for (const PairedDevice& device : devices) {
      if (device.name == wanted) return device;
      if (wanted.size() >= 4 && device.deviceId.starts_with(wanted)) matching.push_back(device);
    }
    if (matching.size() == 1) return matching.front();
    if (matching.empty()) {
      throw std::runtime_error("No paired device is called \"" + wanted + "\": this laptop is paired with " + named(devices) + ".");
    }
    throw std::runtime_error("\"" + wanted + "\" starts the id of several devices: " + named(matching) + ". Say more of it.");
  }
  if (!copyOf.empty()) {
    for (const PairedDevice& device : devices) {
      if (device.deviceId == copyOf) return device;
    }
    throw std::runtime_error("That folder holds a copy of a device this laptop is not paired with (any more): " + copyOf.substr(0, 8) +
                             ". Pair with it again, or choose another folder. Nothing was sent.");
  }
  if (devices.size() == 1) return devices.front();
  throw std::runtime_error("This laptop is paired with " + std::to_string(devices.size()) + " devices: say which with --device NAME (" +
                           named(devices) + ").");
}

}  // namespace lumenvale::laptop
