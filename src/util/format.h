// The texts of counts, byte sizes and dates that the screens show, always in
// the fixed locale en_US whatever the machine's own settings. Formatters are
// made once, on first use; every function is safe to call from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/clock.h"

namespace lumenvale::Format {

using lumenvale::TimePoint;

// count returns a whole number with en_US grouping: 1234567 -> "1,234,567".
std::string count(std::int64_t n);

// bytes returns a size in steps of 1000 with its unit ("B" to "TB"), rounded
// half-up, with one fraction digit below 100 of a unit larger than B and
// none otherwise: 1500 -> "1.5 KB", 123456 -> "123 KB", 1999 -> "2 KB".
std::string bytes(std::int64_t n);

// day returns the short date "Mar 7, 2026". `zone` is an IANA time-zone id;
// empty means the machine's own zone.
std::string day(TimePoint time, std::string_view zone = {});

// taken returns the viewer's long date and time,
// "Saturday, March 7, 2026 · 9:05 AM", in `zone` (empty: the machine's).
std::string taken(TimePoint time, std::string_view zone = {});

// iso8601 returns the internet date and time in UTC: "2026-03-07T09:05:02Z".
std::string iso8601(TimePoint time);

// parseIso8601 reads back an internet date and time with "Z" or a numeric
// offset; nothing when the text is not one. A time before 1678 or after 2261
// is held at that end, as a TimePoint holds no more.
std::optional<TimePoint> parseIso8601(std::string_view text);

// countdown reads a number of seconds as minutes and seconds: 75 -> "1:15",
// 3600 -> "60:00".
std::string countdown(std::int64_t seconds);

// monthTitle reads a key that begins "YYYY-MM" as "May 2024"; anything else
// gives "".
std::string monthTitle(std::string_view key);

// months are the twelve stand-alone month names of en_US, January first.
const std::vector<std::string>& months();

}  // namespace lumenvale::Format
