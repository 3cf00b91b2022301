// The Home card's case, chosen from the hub's state and the time.
#include "screens/hero.h"

#include <gtest/gtest.h>

#include <functional>

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

const TimePoint kNow = TimePoint(std::chrono::seconds(1800000000));

// A state that is online, with a laptop and a code, for the cases to vary.
HubState online() {
  HubState state;
  state.port = 41820;
  state.addresses = {{"192.168.1.5", "wlan0"}};
  state.code = Pairing::Code{"ABCDEFGH", kNow + 120s};
  return state;
}

TEST(HeroChoice, FromStateAndTime) {
  struct Case {
    const char* label;
    std::function<void(HubState&)> change;
    Hero::Case expected;
  };
  const std::vector<Case> cases = {
      {"waiting with the code's time left", [](HubState&) {}, Hero::Waiting{"ABCD-EFGH", 120, 0.4}},
      {"no code", [](HubState& s) { s.code.reset(); }, Hero::Waiting{"", 0, 0.0}},
      {"an expired code", [](HubState& s) { s.code->expiresAt = kNow - 1s; }, Hero::Waiting{"ABCD-EFGH", 0, 0.0}},
      {"a code beyond the scale", [](HubState& s) { s.code->expiresAt = kNow + 412s; },
       Hero::Waiting{"ABCD-EFGH", 300, 1.0}},
      {"no port",
       [](HubState& s) {
         s.port = 0;
         s.connected = true;
       },
       Hero::NoNetwork{}},
      {"no address and nobody connected", [](HubState& s) { s.addresses.clear(); }, Hero::NoNetwork{}},
      {"no address but a laptop connected",
       [](HubState& s) {
         s.addresses.clear();
         s.connected = true;
         s.lastLaptop = "Desk";
         s.lastSeen = kNow - 10s;
         s.lastTransfer = kNow - 10s;
       },
       Hero::Connected{"Desk"}},
      {"a laptop seen 10 s ago, a transfer 2 s ago",
       [](HubState& s) {
         s.lastLaptop = "Desk";
         s.lastSeen = kNow - 10s;
         s.lastTransfer = kNow - 2s;
         s.sentFiles = 3;
         s.sentBytes = 4096;
         s.bytesPerSecond = 100;
       },
       Hero::Sending{"Desk", 3, 4096, 100}},
      {"the transfer 4 s ago",
       [](HubState& s) {
         s.lastLaptop = "Desk";
         s.lastSeen = kNow - 10s;
         s.lastTransfer = kNow - 4s;
       },
       Hero::Connected{"Desk"}},
      {"a stream in flight",
       [](HubState& s) {
         s.lastLaptop = "Desk";
         s.lastSeen = kNow - 29s;
         s.inFlight = 1;
       },
       Hero::Sending{"Desk", 0, 0, 0}},
      {"the laptop last seen 30 s ago",
       [](HubState& s) {
         s.lastLaptop = "Desk";
         s.lastSeen = kNow - 30s;
         s.inFlight = 1;
       },
       Hero::Waiting{"ABCD-EFGH", 120, 0.4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    HubState state = online();
    c.change(state);
    EXPECT_EQ(Hero::of(state, kNow), c.expected);
  }
}

}  // namespace
}  // namespace lumenvale
