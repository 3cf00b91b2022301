// What the laptop keeps about itself and the device it paired with, in
// $XDG_CONFIG_HOME/lumenvale-laptop/ (folder 0700, files 0600): its own id
// and name, sent when pairing, and the device's address, pinned certificate
// fingerprint and the bearer token.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumenvale::laptop {

struct PairedDevice {
  std::string host;
  std::uint16_t port = 0;
  std::string fingerprint;  // 64 lower-case hex digits
  std::string token;
  std::string deviceId;
  std::string name;
  bool operator==(const PairedDevice&) const = default;
};

class LaptopConfig {
 public:
  // folder is $XDG_CONFIG_HOME/lumenvale-laptop (default ~/.config).
  static std::string defaultFolder();

  explicit LaptopConfig(std::string folder);

  // laptopId is this laptop's id for good: made on first use and kept.
  // Throws std::runtime_error when it cannot be kept.
  std::string laptopId();
  // laptopName is the machine's host name.
  static std::string laptopName();

  // device is the device paired with, or nothing.
  std::optional<PairedDevice> device() const;
  // save keeps `device` as the one paired with; throws std::runtime_error
  // when it cannot be written.
  void save(const PairedDevice& device);

 private:
  void write(const std::string& name, const std::string& text);
  const std::string folder_;
};

}  // namespace lumenvale::laptop
