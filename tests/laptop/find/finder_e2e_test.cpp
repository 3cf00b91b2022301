// The laptop finding real devices: the lumenvale binary announces itself
// through avahi-daemon, and findDevices browses and resolves it. Each case has
// its own D-Bus system bus and avahi-daemon (or uses those already running),
// on the loopback interface only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "laptop/find/finder.h"
#include "laptop/laptop_config.h"
#include "support/avahi_daemon.h"
#include "support/command.h"
#include "support/program.h"

namespace lumenvale::laptop {

// Lets a failed comparison show the devices rather than their bytes.
void PrintTo(const FoundDevice& d, std::ostream* out) {
  *out << "{\"" << d.name << "\" " << d.host << " " << d.address << ":" << d.port << " id=" << d.deviceId
       << " fp=" << d.fingerprintPrefix << "}";
}

namespace {

using namespace std::chrono_literals;
using lumenvale::testing::AvahiDaemon;
using lumenvale::testing::Program;
using lumenvale::testing::TemporaryFolder;

// Long enough for avahi-daemon on loopback to answer a browse and a resolve;
// a search this short that misses the device is simply repeated.
constexpr auto kSearch = 1500ms;

std::string firstLine(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

std::string describe(const std::vector<FoundDevice>& devices) {
  std::ostringstream text;
  for (const FoundDevice& device : devices) {
    text << "  ";
    PrintTo(device, &text);
    text << "\n";
  }
  return devices.empty() ? "  (none)\n" : text.str();
}

std::size_t countNamed(const std::vector<FoundDevice>& devices, const std::string& name) {
  return static_cast<std::size_t>(
      std::count_if(devices.begin(), devices.end(), [&name](const FoundDevice& d) { return d.name == name; }));
}

// searchUntil repeats findDevices until `done` holds for what it found, or
// gives up after `timeout`; either way it returns the last search's list.
std::vector<FoundDevice> searchUntil(const std::function<bool(const std::vector<FoundDevice>&)>& done,
                                     std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::vector<FoundDevice> found = findDevices(kSearch);
    if (done(found) || std::chrono::steady_clock::now() >= deadline) return found;
  }
}

// One running device with its own data and photo folders.
struct Device {
  Device(const std::string& label, const std::string& name) : name(name), data(label), library(label + "-photos") {
      start();
  }

  // start runs the binary, again after a stop with the same folders.
  void start() {
    program = std::make_unique<Program>(std::vector<std::string>{LUMENVALE_BINARY, "--headless", "--data", data.path(),
                                                                 "--name", name, "--listen", "127.0.0.1", "--library",
                                                                 library.path()});
  }

  // expected is what a laptop should resolve for this device, read from
  // what it printed and stored. Empty fields when it did not start.
  FoundDevice expected() {
    FoundDevice device;
    device.name = name;
    device.address = "127.0.0.1";
    const std::string fingerprint = program->printed("Fingerprint: ").value_or("");
    if (fingerprint.size() == 64) device.fingerprintPrefix = fingerprint.substr(0, 16);
    const std::optional<std::string> port = program->printed("Listening on port ");
    if (port) device.port = static_cast<std::uint16_t>(std::stoi(*port));
    device.deviceId = firstLine(data.path() + "/keychain/device-id");
    return device;
  }

  std::string name;
  TemporaryFolder data;
  TemporaryFolder library;
  std::unique_ptr<Program> program;
};

class FinderTest : public ::testing::Test {
 protected:
  // startDevice runs the binary under a name no other run uses, so an
  // announcement left in a daemon's cache cannot pass for this one, and
  // returns what a laptop should find for it.
  FoundDevice startDevice(const std::string& label) {
    const std::string name = "Finder E2E " + label + " " + std::to_string(::getpid()) + "-" +
                             std::to_string(std::time(nullptr) % 100000);
    devices_.push_back(std::make_unique<Device>("finder-" + label, name));
    FoundDevice expected = devices_.back()->expected();
    EXPECT_EQ(expected.fingerprintPrefix.size(), 16u) << "\"" << name << "\" printed no fingerprint";
    EXPECT_NE(expected.port, 0) << "\"" << name << "\" did not listen";
    EXPECT_FALSE(expected.deviceId.empty()) << "\"" << name << "\" stored no device id";
    return expected;
  }

  // Declared first so it goes last, after the devices have stopped.
  AvahiDaemon avahi_;
  std::vector<std::unique_ptr<Device>> devices_;
};

TEST_F(FinderTest, ResolvesEveryDeviceOnceInNameOrder) {
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  // Started in the reverse of the order they must be listed in.
  const FoundDevice second = startDevice("b");
  const FoundDevice first = startDevice("a");
  if (HasFailure()) return;

  const std::vector<FoundDevice> found = searchUntil(
      [&](const std::vector<FoundDevice>& devices) {
        return countNamed(devices, first.name) > 0 && countNamed(devices, second.name) > 0;
      },
      20s);

  std::vector<FoundDevice> ours;
  for (const FoundDevice& device : found) {
    if (device.name == first.name || device.name == second.name) ours.push_back(device);
  }
  ASSERT_EQ(ours.size(), 2u) << "found:\n" << describe(found);
  for (std::size_t at = 0; at < 2; ++at) {
    const FoundDevice& want = at == 0 ? first : second;
    SCOPED_TRACE(want.name);
    // The host is whatever avahi-daemon calls this machine; everything else
    // comes from the device itself.
    EXPECT_TRUE(ours[at].host.ends_with(".local")) << ours[at].host;
    // What else the machine's own Avahi announces it at (its other
    // interfaces) depends on the machine; 127.0.0.1 is always among them.
    FoundDevice got = ours[at];
    got.host.clear();
    EXPECT_NE(std::find(got.addresses.begin(), got.addresses.end(), "127.0.0.1"), got.addresses.end())
        << "found:\n" << describe(found);
    got.address = want.address;
    got.addresses.clear();
    EXPECT_EQ(got, want) << "found:\n" << describe(found);
  }
}

TEST_F(FinderTest, ForgetsADeviceThatStopped) {
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  const FoundDevice staying = startDevice("stays");
  const FoundDevice leaving = startDevice("leaves");
  if (HasFailure()) return;

  const std::vector<FoundDevice> before = searchUntil(
      [&](const std::vector<FoundDevice>& devices) {
        return countNamed(devices, staying.name) == 1 && countNamed(devices, leaving.name) == 1;
      },
      20s);
  ASSERT_EQ(countNamed(before, leaving.name), 1u) << "found:\n" << describe(before);
  ASSERT_EQ(countNamed(before, staying.name), 1u) << "found:\n" << describe(before);

  ASSERT_EQ(devices_.back()->program->stop(), 0);
  const std::vector<FoundDevice> after = searchUntil(
      [&](const std::vector<FoundDevice>& devices) { return countNamed(devices, leaving.name) == 0; }, 10s);
  EXPECT_EQ(countNamed(after, leaving.name), 0u) << "a stopped device is still listed:\n" << describe(after);
  // The search itself still works: the other device is there.
  EXPECT_EQ(countNamed(after, staying.name), 1u) << "found:\n" << describe(after);
}

// A paired device that restarts on another port is found again under its
// id: the laptop's watch goes through and keeps the new address.
TEST_F(FinderTest, APairedDeviceThatMovedIsFoundAgain) {
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  const FoundDevice first = startDevice("moves");
  if (HasFailure()) return;
  Device& device = *devices_.back();
  TemporaryFolder config("finder-laptop-config");
  TemporaryFolder dest("finder-laptop-dest");
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  const std::string code = device.program->printed("Pairing code: ").value_or("");
  const testing::CommandResult paired = testing::runCommand(
      {LUMENVALE_LAPTOP_BINARY, "pair", "127.0.0.1:" + std::to_string(first.port), "--code", code}, 30s);
  ASSERT_EQ(paired.status, 0) << paired.output;

  // Restarted while another program holds its port: it takes the next.
  ASSERT_EQ(device.program->stop(), 0);
  const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(first.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int one = 1;
  ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  device.start();
  const std::optional<std::string> port = device.program->lineStartingWith("Listening on port ");
  ASSERT_TRUE(port);
  ASSERT_NE(*port, std::to_string(first.port));
  // Announced at its new port before the laptop looks.
  searchUntil(
      [&](const std::vector<FoundDevice>& devices) {
        return std::any_of(devices.begin(), devices.end(), [&](const FoundDevice& d) {
          return d.deviceId == first.deviceId && std::to_string(d.port) == *port;
        });
      },
      20s);

  // Found by `watch`, as the service that keeps the copy runs it.
  const testing::CommandResult pulled = testing::runCommand({LUMENVALE_LAPTOP_BINARY, "watch", "--once", dest.path()}, 60s);
  ::unsetenv("XDG_CONFIG_HOME");
  ::close(holder);
  EXPECT_EQ(pulled.status, 0) << pulled.output;
  EXPECT_NE(pulled.output.find("Copied 0 files"), std::string::npos) << pulled.output;
  EXPECT_EQ(pulled.output.find("does not answer"), std::string::npos) << pulled.output;
  const std::vector<PairedDevice> kept = LaptopConfig(config.path() + "/lumenvale-laptop").devices();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(std::to_string(kept.front().port), *port);
}

}  // namespace
}  // namespace lumenvale::laptop
