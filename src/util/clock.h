// The source of "now" for everything with an expiry or a time-out, injected
// so that tests move time forward without sleeping.
#pragma once

#include <chrono>
#include <functional>

namespace lumenvale {

using TimePoint = std::chrono::system_clock::time_point;
using Clock = std::function<TimePoint()>;

inline TimePoint systemNow() { return std::chrono::system_clock::now(); }

// secondsBetween is `to` - `from` in seconds, negative when `to` is earlier.
inline double secondsBetween(TimePoint from, TimePoint to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace lumenvale
