// Finds Lumenvale devices on the local network by their DNS-SD announcement
// (`_lumenvale._tcp`), through the Avahi daemon. Each call opens its own
// connection to the daemon and shares nothing, so calls from several threads
// may run at once. A call blocks for the whole wait it is given.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumenvale::laptop {

// A device as its announcements resolved: where to connect and what it says
// about itself.
struct FoundDevice {
  std::string name;     // the DNS-SD service name (the device's name)
  std::string host;     // host name as resolved, e.g. "phone.local"
  std::string address;  // numeric, the one to try first (IPv4 when the device has one)
  std::uint16_t port = 0;
  std::string deviceId;           // TXT "id", empty when missing
  std::string fingerprintPrefix;  // TXT "fp", empty when missing
  // Every address it was seen at, `address` first: IPv4, then IPv6, then
  // IPv6 link-local; empty in a single resolution, before collating.
  std::vector<std::string> addresses = {};
  bool operator==(const FoundDevice&) const = default;
};

// findDevices browses for `_lumenvale._tcp` on every interface for `wait`,
// resolving each service found, and returns each device once (see
// collateDevices), sorted by name. An IPv6 link-local address carries its
// interface ("fe80::1%wlan0"), without which it cannot be reached. A
// service that resolves only after `wait` is not listed.
//
// Throws std::runtime_error, with a message meant for the user, when the
// Avahi daemon cannot be reached or is lost during the search.
std::vector<FoundDevice> findDevices(std::chrono::milliseconds wait);

// collateDevices turns every resolution a search gathered into the list
// findDevices returns: one entry per device and port, whatever the
// interfaces and protocols it was seen on (a device is known by its TXT id,
// or by its name and host when it gives none), with all its addresses;
// sorted by name, then address.
std::vector<FoundDevice> collateDevices(std::vector<FoundDevice> resolved);

}  // namespace lumenvale::laptop
