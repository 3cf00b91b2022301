// The case the Home card shows, worked out from the hub's state and the
// time: the pairing code and its countdown, a laptop that is sending or
// just connected, or no network. A pure function.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "hub/hub.h"
#include "util/clock.h"

namespace lumenvale::Hero {

struct Waiting {
  std::string code;     // as displayed; empty without a code
  int secondsLeft = 0;  // 0 to 300
  double fraction = 0;  // secondsLeft / 300
  bool operator==(const Waiting&) const = default;
};
struct Sending {
  std::string laptop;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  std::int64_t bytesPerSecond = 0;
  bool operator==(const Sending&) const = default;
};
struct Connected {
  std::string laptop;
  bool operator==(const Connected&) const = default;
};
struct NoNetwork {
  bool operator==(const NoNetwork&) const = default;
};

using Case = std::variant<Waiting, Sending, Connected, NoNetwork>;

// A finished transfer stays on the card this long.
inline constexpr double kLingerSeconds = 3.0;
// The full scale of the pairing countdown.
inline constexpr double kCodeScaleSeconds = 300.0;

// of chooses the card's case for `state` at `now`.
Case of(const HubState& state, TimePoint now);

}  // namespace lumenvale::Hero
