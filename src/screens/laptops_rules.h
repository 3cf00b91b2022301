// What the Laptops tab shows, worked out apart from any toolkit: the time a
// pairing code has left, whether a paired laptop is here now, and the
// device's fingerprint as the owner compares it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hub/hub.h"

namespace lumenvale::LaptopsRules {

// secondsLeft is the time from `now` to `expiresAt` taken up to the next
// whole second (0.2 s shows as 1), never below 0.
std::int64_t secondsLeft(TimePoint expiresAt, TimePoint now);

// isLive: `laptop` made the hub's latest request, less than 30 seconds ago.
bool isLive(const HubState& state, const Laptop& laptop, TimePoint now);

// fingerprintGroups cuts a certificate fingerprint (64 hex digits, as the
// laptop prints it) into 16 groups of 4, which a person can compare group
// by group; nothing for any other text.
std::vector<std::string> fingerprintGroups(const std::string& fingerprint);

}  // namespace lumenvale::LaptopsRules
