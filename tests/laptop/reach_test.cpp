// Where the laptop looks for its paired device: the saved address first,
// then the device announced under its id, trusting only its certificate.
#include "laptop/reach.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>

#include "laptop/device_connection.h"

namespace lumenvale::laptop {
namespace {

const std::string kFingerprint = "0123456789abcdef" + std::string(48, 'e');

PairedDevice saved() { return {"192.168.1.20", 41820, kFingerprint, "token", "id-anna", "Anna's phone"}; }

FoundDevice announced(std::vector<std::string> addresses, std::uint16_t port, std::string id = "id-anna",
                      std::string prefix = "0123456789abcdef") {
  return FoundDevice{"Anna's phone", "phone.local", addresses.front(), port, std::move(id), std::move(prefix), addresses};
}

TEST(ReachDevice, TriesTheSavedAddressThenTheDeviceAnnouncedUnderItsId) {
  struct Case {
    const char* what;
    std::set<std::string> answering;           // "host:port" where the paired device answers
    std::set<std::string> otherCertificate;    // "host:port" where another device answers
    std::optional<std::vector<FoundDevice>> found;  // nothing: no Avahi on the laptop
    std::string reached;                       // "host:port", or empty when it throws
    std::string said;                          // what the failure says
  };
  const std::vector<Case> cases = {
      {"where it was", {"192.168.1.20:41820"}, {}, std::vector<FoundDevice>{}, "192.168.1.20:41820", ""},
      {"restarted on the next port", {"192.168.1.20:41821"}, {},
       std::vector<FoundDevice>{announced({"192.168.1.20"}, 41821)}, "192.168.1.20:41821", ""},
      {"a new address, the first announced one unreachable", {"192.168.1.33:41820"}, {},
       std::vector<FoundDevice>{announced({"10.9.9.9", "192.168.1.33", "fe80::1%wlan0"}, 41820)}, "192.168.1.33:41820", ""},
      {"another device took its address, and it moved", {"192.168.1.33:41820"}, {"192.168.1.20:41820"},
       std::vector<FoundDevice>{announced({"192.168.1.33"}, 41820)}, "192.168.1.33:41820", ""},
      {"another device took its address, and it is nowhere", {}, {"192.168.1.20:41820"}, std::vector<FoundDevice>{}, "",
       "shows another certificate"},
      {"an announcement under its id with another certificate is not it", {"192.168.1.40:41820"}, {},
       std::vector<FoundDevice>{announced({"192.168.1.40"}, 41820, "id-anna", "ffffffffffffffff")}, "",
       "Anna's phone does not answer at 192.168.1.20:41820 and is not announced on this network."},
      {"another device's announcement", {"192.168.1.40:41820"}, {},
       std::vector<FoundDevice>{announced({"192.168.1.40"}, 41820, "id-bob")}, "", "is not announced on this network"},
      {"announced, but its certificate is not the pinned one there", {}, {"192.168.1.40:41820"},
       std::vector<FoundDevice>{announced({"192.168.1.40"}, 41820)}, "", "is not announced on this network"},
      {"no Avahi on the laptop", {}, {}, std::nullopt, "", "is not announced on this network"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PairedDevice> kept;
    Reach reach;
    reach.answers = [&c](const PairedDevice& device) {
      const std::string at = device.host + ":" + std::to_string(device.port);
      EXPECT_EQ(device.fingerprint, kFingerprint);  // trust never moves
      if (c.otherCertificate.count(at) != 0) throw CertificateMismatch("The device at " + at + " shows another certificate.");
      return c.answering.count(at) != 0;
    };
    reach.find = [&c] {
      if (!c.found) throw std::runtime_error("Avahi is not running on this laptop.");
      return *c.found;
    };
    reach.save = [&kept](const PairedDevice& device) { kept.push_back(device); };
    if (c.reached.empty()) {
      try {
        reachDevice(saved(), reach);
        ADD_FAILURE() << "reached a device";
      } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find(c.said), std::string::npos) << failure.what();
      }
      EXPECT_TRUE(kept.empty());
      continue;
    }
    const PairedDevice reached = reachDevice(saved(), reach);
    EXPECT_EQ(reached.host + ":" + std::to_string(reached.port), c.reached);
    EXPECT_EQ(reached.token, "token");
    const bool moved = c.reached != "192.168.1.20:41820";
    ASSERT_EQ(kept.size(), moved ? 1u : 0u);
    if (moved) EXPECT_EQ(kept[0], reached);
  }
}

}  // namespace
}  // namespace lumenvale::laptop
