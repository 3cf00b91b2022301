// What the Laptops tab shows, worked out apart from any toolkit: the time a
// pairing code has left and whether a paired laptop is here now.
#pragma once

#include <cstdint>
#include <string>

#include "hub/hub.h"

namespace lumenvale::LaptopsRules {

// secondsLeft is the time from `now` to `expiresAt` taken up to the next
// whole second (0.2 s shows as 1), never below 0.
std::int64_t secondsLeft(TimePoint expiresAt, TimePoint now);

// isLive: `laptop` made the hub's latest request, less than 30 seconds ago.
bool isLive(const HubState& state, const Laptop& laptop, TimePoint now);

}  // namespace lumenvale::LaptopsRules
