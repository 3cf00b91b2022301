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

FoundDevice device(std::string name, std::string address, std::uint16_t port = 41820,
                   std::string host = "phone.local") {
  return FoundDevice{std::move(name), std::move(host), std::move(address), port, "id-" + std::to_string(port),
                     "0123456789abcdef"};
}

TEST(CollateDevicesTest, MergesSightingsIntoOneOrderedList) {
  struct Case {
    const char* name;
    std::vector<FoundDevice> resolved;
    std::vector<FoundDevice> listed;
  };
  const std::vector<Case> cases = {
      {"nothing resolved", {}, {}},
      {"one device seen on two interfaces",
       {device("Anna", "192.168.1.20"), device("Anna", "192.168.1.20")},
       {device("Anna", "192.168.1.20")}},
      {"IPv4 wins over IPv6 whichever resolved first",
       {device("Anna", "fe80::1%wlan0"), device("Anna", "192.168.1.20"), device("Anna", "2001:db8::1")},
       {device("Anna", "192.168.1.20")}},
      {"a device with IPv6 only keeps it",
       {device("Anna", "fe80::1%wlan0"), device("Anna", "fe80::1%wlan0")},
       {device("Anna", "fe80::1%wlan0")}},
      {"IPv4 of one host does not hide IPv6 of another with the same name",
       {device("Anna", "192.168.1.20", 41820, "phone.local"), device("Anna", "fe80::2%eth0", 41820, "phone-2.local")},
       {device("Anna", "192.168.1.20", 41820, "phone.local"), device("Anna", "fe80::2%eth0", 41820, "phone-2.local")}},
      {"sorted by name, then address",
       {device("Zoe", "10.0.0.1"), device("Anna", "10.0.0.9"), device("Anna", "10.0.0.3")},
       {device("Anna", "10.0.0.3"), device("Anna", "10.0.0.9"), device("Zoe", "10.0.0.1")}},
      {"same name and address on another port is another listing",
       {device("Anna", "10.0.0.3", 41821), device("Anna", "10.0.0.3", 41820)},
       {device("Anna", "10.0.0.3", 41820), device("Anna", "10.0.0.3", 41821)}},
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
  Program bus({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + busAddress,
               "--print-address=1"});
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
