// How the device finder merges what a search resolved into one list, and how
// it fails when Avahi cannot be reached. Needs no root, and touches no system
// bus or avahi-daemon: the one bus it uses is its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "laptop/find/finder.h"
#include "support/program.h"

namespace lumenvale::laptop {

// Lets a failed comparison show the devices rather than their bytes.
void PrintTo(const FoundDevice& d, std::ostream* out) {
  *out << "{\"" << d.name << "\" " << d.host << " " << d.address << ":" << d.port << " id=" << d.deviceId
       << " fp=" << d.fingerprintPrefix << "}";
}

namespace {

using namespace std::chrono_literals;
using testing::Program;

// sighting is one resolution of a device's announcement.
FoundDevice sighting(std::string name, std::string address, std::uint16_t port = 41820, std::string id = "id-anna",
                     std::string host = "phone.local") {
  return FoundDevice{std::move(name), std::move(host), std::move(address), port, std::move(id), "0123456789abcdef"};
}

// listed is a device as the search lists it: at all its addresses.
FoundDevice listed(std::string name, std::vector<std::string> addresses, std::uint16_t port = 41820,
                   std::string id = "id-anna", std::string host = "phone.local") {
  FoundDevice device = sighting(std::move(name), addresses.front(), port, std::move(id), std::move(host));
  device.addresses = std::move(addresses);
  return device;
}

TEST(CollateDevicesTest, ListsEachDeviceOnceWithAllItsAddresses) {
  struct Case {
    const char* name;
    std::vector<FoundDevice> resolved;
    std::vector<FoundDevice> listed;
  };
  const std::vector<Case> cases = {
      {"nothing resolved", {}, {}},
      {"one device seen on two interfaces",
       {sighting("Anna", "192.168.1.20"), sighting("Anna", "192.168.1.20")},
       {listed("Anna", {"192.168.1.20"})}},
      {"one device at every address it announces, IPv4 first, link-local last",
       {sighting("Anna", "fe80::1%wlan0"), sighting("Anna", "192.168.1.20"), sighting("Anna", "2001:db8::1"),
        sighting("Anna", "127.0.0.1")},
       {listed("Anna", {"127.0.0.1", "192.168.1.20", "2001:db8::1", "fe80::1%wlan0"})}},
      {"a device with IPv6 only keeps it",
       {sighting("Anna", "fe80::1%wlan0"), sighting("Anna", "fe80::1%wlan0")},
       {listed("Anna", {"fe80::1%wlan0"})}},
      {"two devices of the same name are two",
       {sighting("Anna", "192.168.1.20", 41820, "id-1"), sighting("Anna", "192.168.1.21", 41820, "id-2")},
       {listed("Anna", {"192.168.1.20"}, 41820, "id-1"), listed("Anna", {"192.168.1.21"}, 41820, "id-2")}},
      {"without an id, a device is its name and host",
       {sighting("Anna", "192.168.1.20", 41820, "", "phone.local"),
        sighting("Anna", "fe80::2%eth0", 41820, "", "phone.local"),
        sighting("Anna", "192.168.1.30", 41820, "", "tablet.local")},
       {listed("Anna", {"192.168.1.20", "fe80::2%eth0"}, 41820, "", "phone.local"),
        listed("Anna", {"192.168.1.30"}, 41820, "", "tablet.local")}},
      {"sorted by name, then address",
       {sighting("Zoe", "10.0.0.1", 41820, "id-z"), sighting("Anna", "10.0.0.9", 41820, "id-9"),
        sighting("Anna", "10.0.0.3", 41820, "id-3")},
       {listed("Anna", {"10.0.0.3"}, 41820, "id-3"), listed("Anna", {"10.0.0.9"}, 41820, "id-9"),
        listed("Zoe", {"10.0.0.1"}, 41820, "id-z")}},
      {"the same device on another port is another listing",
       {sighting("Anna", "10.0.0.3", 41821), sighting("Anna", "10.0.0.3", 41820)},
       {listed("Anna", {"10.0.0.3"}, 41820), listed("Anna", {"10.0.0.3"}, 41821)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(collateDevices(c.resolved), c.listed);
  }
}

// findWithBusAt searches with Avahi's client pointed at the bus at `address`
// and exits: 0 when findDevices failed at once, having printed its message to
// standard error. It must run in a process of its own, as the D-Bus library
// reads the system bus address only once per process. It exits normally so
// that, under the sanitizers, a leak on the way out fails the case.
[[noreturn]] void findWithBusAt(const std::string& address) {
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  const auto started = std::chrono::steady_clock::now();
  try {
    findDevices(20s);
    std::cerr << "findDevices returned without Avahi";
    std::exit(1);
  } catch (const std::runtime_error& error) {
    std::cerr << error.what();
  }
  // Failing must not wait out the search it was asked for.
  std::exit(std::chrono::steady_clock::now() - started < 5s ? 0 : 2);
}

// Both ways a laptop can be without Avahi: no system bus at all, and a bus
// with no avahi-daemon on it (installed but stopped). The bus is a private
// one this test starts at a path of its own, so no other test's bus or
// daemon is touched.
TEST(FindDevicesTest, FailsAtOnceWithAClearMessageWithoutAvahi) {
  testing::TemporaryFolder folder{"finder"};
  const std::string busAddress = "unix:path=" + folder.path() + "/bus";
  Program bus(
      {"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + busAddress, "--print-address=1"});
  ASSERT_TRUE(bus.lineStartingWith("unix:path=", 10s)) << "the private bus did not start";

  struct Case {
    const char* name;
    std::string address;
  };
  const std::vector<Case> cases = {
      {"no bus", "unix:path=" + folder.path() + "/no-bus-here"},
      {"a bus without avahi-daemon", busAddress},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(findWithBusAt(c.address), ::testing::ExitedWithCode(0),
                "Cannot reach the Avahi daemon: Daemon not running\\. Is avahi-daemon running\\?");
  }
}

}  // namespace
}  // namespace lumenvale::laptop
