// What the Home card shows, worked out from the hub's state and the time:
// the card's case (Hero), the speed from recent byte totals, and the small
// formatters other screens share. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "pairing/pairing.h"
#include "util/clock.h"

namespace lumenvale {

struct HubState;

namespace Hero {

struct Waiting {
  std::string code;  // as displayed; empty without a code
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

// A laptop counts as present this long after its last request.
inline constexpr double kPresentSeconds = 30.0;
// A finished transfer stays on the card this long.
inline constexpr double kLingerSeconds = 3.0;
// The full scale of the pairing countdown.
inline constexpr double kCodeScaleSeconds = 300.0;

// of chooses the card's case for `state` at `now`.
Case of(const HubState& state, TimePoint now);

}  // namespace Hero

namespace HomeState {

using Sample = std::pair<TimePoint, std::int64_t>;  // (when, total bytes sent by then)

// speed is the byte rate between the oldest and the newest sample,
// truncated; 0 with fewer than two samples, no time between them, or a
// smaller newer total.
std::int64_t speed(const std::vector<Sample>& samples);

// countdown reads a number of seconds as minutes and seconds: 75 -> "1:15",
// 3600 -> "60:00".
std::string countdown(std::int64_t seconds);

// monthTitle reads a key that begins "YYYY-MM" as "May 2024"; anything else
// gives "".
std::string monthTitle(std::string_view key);

// months are the twelve stand-alone month names of en_US, January first.
const std::vector<std::string>& months();

}  // namespace HomeState

}  // namespace lumenvale
