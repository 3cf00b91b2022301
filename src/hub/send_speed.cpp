#include "hub/send_speed.h"

#include <cmath>

namespace lumenvale::SendSpeed {

std::int64_t of(const std::vector<Sample>& samples) {
  if (samples.size() < 2) return 0;
  const Sample& first = samples.front();
  const Sample& last = samples.back();
  const double dt = secondsBetween(first.first, last.first);
  if (!(dt > 0)) return 0;
  const double rate = std::trunc(static_cast<double>(last.second - first.second) / dt);
  return rate < 0 ? 0 : static_cast<std::int64_t>(rate);
}

}  // namespace lumenvale::SendSpeed
