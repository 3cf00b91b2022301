#include "library/instant.h"

#include <algorithm>
#include <cmath>

namespace lumenvale {
namespace {

using std::chrono::microseconds;

// 2001-01-01 00:00:00 UTC, where instants count from, in microseconds since 1970.
constexpr std::int64_t kInstantEpochMicros = 978307200LL * 1000000;
// The whole microseconds a TimePoint holds.
constexpr std::int64_t kFirstMicros = std::chrono::ceil<microseconds>(TimePoint::min().time_since_epoch()).count();
constexpr std::int64_t kLastMicros = std::chrono::floor<microseconds>(TimePoint::max().time_since_epoch()).count();

}  // namespace

Instant instantOf(TimePoint time) {
  const std::int64_t micros = std::chrono::floor<microseconds>(time.time_since_epoch()).count();
  // An integer below 2^53 divided by 10^6 is correctly rounded, and the
  // catalog keeps whole microseconds, so timeOf() gives the same time back.
  return static_cast<double>(micros - kInstantEpochMicros) / 1e6;
}

TimePoint timeOf(Instant instant) {
  if (std::isnan(instant)) instant = 0;
  // Compared as doubles before any integer is made, so nothing overflows:
  // a TimePoint's microseconds lie near 2^53, where a double is off by one
  // at most, and the clamp at the end keeps that rounding inside.
  const double micros = instant * 1e6 + static_cast<double>(kInstantEpochMicros);
  if (micros <= static_cast<double>(kFirstMicros)) return TimePoint(microseconds(kFirstMicros));
  if (micros >= static_cast<double>(kLastMicros)) return TimePoint(microseconds(kLastMicros));
  std::int64_t whole = std::llround(instant * 1e6) + kInstantEpochMicros;
  if (whole > kFirstMicros && instantOf(TimePoint(microseconds(whole))) > instant) --whole;
  return TimePoint(microseconds(std::clamp(whole, kFirstMicros, kLastMicros)));
}

}  // namespace lumenvale
