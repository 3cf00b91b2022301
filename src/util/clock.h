// The source of "now" for everything with an expiry or a time-out, injected
// so that tests move time forward without sleeping.
#pragma once

#include <chrono>
#include <cmath>
#include <functional>

namespace lumenvale {

using TimePoint = std::chrono::system_clock::time_point;
using Clock = std::function<TimePoint()>;

inline TimePoint systemNow() { return std::chrono::system_clock::now(); }

// secondsBetween is `to` - `from` in seconds, negative when `to` is earlier.
inline double secondsBetween(TimePoint from, TimePoint to) { return std::chrono::duration<double>(to - from).count(); }

// millisSince1970 is `time` as milliseconds since 1970-01-01 00:00 UTC, the
// fraction kept: the form laptops.json stores and ICU reads.
inline double millisSince1970(TimePoint time) {
  return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

// fromMillisSince1970 is the time `millis` after 1970-01-01 00:00 UTC. A
// value beyond what a TimePoint holds (about 1678 to 2262) is held just
// inside its ends, any other rounded to the microsecond, and NaN reads as 1970, so that any number read from a
// file or a peer is safe to convert.
inline TimePoint fromMillisSince1970(double millis) {
  constexpr double kFurthest = 9.2e12;  // below 2^63 nanoseconds, with room for rounding
  if (!(millis == millis)) return TimePoint();
  millis = millis < -kFurthest ? -kFurthest : millis > kFurthest ? kFurthest : millis;
  // To the nearest microsecond: a double holds every microsecond of these
  // years exactly, where nanoseconds near 2^60 would not be.
  return TimePoint(std::chrono::microseconds(std::llround(millis * 1000.0)));
}

}  // namespace lumenvale
