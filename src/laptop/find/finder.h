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

// A device as its announcement resolved: where to connect and what it says
// about itself.
struct FoundDevice {
  std::string name;               // the DNS-SD service name (the device's name)
  std::string host;               // host name as resolved, e.g. "phone.local"
  std::string address;            // numeric, IPv4 when the device has one
  std::uint16_t port = 0;
  std::string deviceId;           // TXT "id", empty when missing
  std::string fingerprintPrefix;  // TXT "fp", empty when missing
  bool operator==(const FoundDevice&) const = default;
};

// findDevices browses for `_lumenvale._tcp` on every interface for `wait`,
// resolving each service found, and returns the devices sorted by name then
// address. A device seen on several interfaces or protocols with the same
// name, address and port is listed once, and a device seen with an IPv4
// address is not listed again with an IPv6 one. An IPv6 link-local address
// carries its interface ("fe80::1%wlan0"), without which it cannot be
// reached. A service that resolves only after `wait` is not listed.
//
// Throws std::runtime_error, with a message meant for the user, when the
// Avahi daemon cannot be reached or is lost during the search.
std::vector<FoundDevice> findDevices(std::chrono::milliseconds wait);

// collateDevices turns every resolution a search gathered into the list
// findDevices returns: IPv6 addresses dropped for a device (same name and
// host) that has an IPv4 one, repeats of a name, address and port dropped,
// the rest sorted by name then address.
std::vector<FoundDevice> collateDevices(std::vector<FoundDevice> resolved);

}  // namespace lumenvale::laptop
