// The rate the Home card shows while files are sent: bytes per second over
// the last few totals the hub samples once a second. A pure function.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "util/clock.h"

namespace lumenvale::SendSpeed {

using Sample = std::pair<TimePoint, std::int64_t>;  // (when, total bytes sent by then)

// of is the byte rate between the oldest and the newest sample, truncated;
// 0 with fewer than two samples, no time between them, or a smaller newer
// total.
std::int64_t of(const std::vector<Sample>& samples);

}  // namespace lumenvale::SendSpeed
