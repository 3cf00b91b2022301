#include "laptop/laptop_config.h"

#include <unistd.h>

#include <cstdlib>
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

std::optional<PairedDevice> LaptopConfig::device() const {
  const nlohmann::json stored = nlohmann::json::parse(AtomicFile::read(folder_ + "/device.json").value_or(""), nullptr, false);
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

void LaptopConfig::save(const PairedDevice& device) {
  const nlohmann::json stored = {{"host", device.host},   {"port", device.port},         {"fingerprint", device.fingerprint},
                                 {"token", device.token}, {"deviceId", device.deviceId}, {"name", device.name}};
  write("device.json", stored.dump(2) + "\n");
}

}  // namespace lumenvale::laptop
