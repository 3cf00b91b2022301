// What the laptop keeps about itself and the devices it paired with, in
// $XDG_CONFIG_HOME/lumenvale-laptop/ (folder 0700, files 0600): its own id
// and name, sent when pairing, and for each device (a phone and a tablet,
// say) its address, pinned certificate fingerprint and bearer token, in
// devices.json. A device.json of old, from when a laptop paired with one
// device only, is read as that one until the next save replaces it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

  // devices are the devices paired with, in the order they were first
  // paired; a record save() could not have written is left out.
  std::vector<PairedDevice> devices() const;
  // save keeps `device`, in place of the one with the same id (the same
  // address when it has none): what it replaced, or nothing for a device
  // new to this laptop. Throws std::runtime_error when it cannot be written.
  std::optional<PairedDevice> save(const PairedDevice& device);
  // forget drops the device with `deviceId`; false when there was none.
  // Throws std::runtime_error when it cannot be written.
  bool forget(const std::string& deviceId);

  // pick chooses the device a command is for: the one `wanted` names (its
  // name, or the start of its id) when given; otherwise the one whose copy
  // `copyOf` is (a copy folder's device id, when it has one); otherwise the
  // only one. Throws std::runtime_error saying what to do when none fits.
  PairedDevice pick(const std::string& wanted, const std::string& copyOf) const;

 private:
  void write(const std::string& name, const std::string& text);
  void writeDevices(const std::vector<PairedDevice>& devices);
  const std::string folder_;
};

}  // namespace lumenvale::laptop
