#include "util/format.h"

#include <gtest/gtest.h>

namespace lumenvale {
namespace {

using namespace std::chrono;

TEST(Format, Count) {
  const std::vector<std::pair<std::int64_t, std::string>> table = {
      {0, "0"}, {999, "999"}, {1234, "1,234"}, {1234567, "1,234,567"}, {-1234, "-1,234"}};
  for (const auto& [n, text] : table) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Format::count(n), text);
  }
}

TEST(Format, Bytes) {
  const std::vector<std::pair<std::int64_t, std::string>> table = {
      {0, "0 B"},           {999, "999 B"},        {1000, "1 KB"},        {1500, "1.5 KB"},
      {1949, "1.9 KB"},     {1950, "2 KB"},        {1999, "2 KB"},        {99949, "99.9 KB"},
      {99950, "100 KB"},    {100000, "100 KB"},    {123456, "123 KB"},    {999500, "1,000 KB"},
      {1234567, "1.2 MB"},  {1250000, "1.3 MB"},   {5000000000000000, "5,000 TB"},
      {-5000, "-5,000 B"}};
  for (const auto& [n, text] : table) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Format::bytes(n), text);
  }
}

TEST(Format, Dates) {
  // 2026-03-07 09:05:02 UTC.
  const Format::TimePoint time = sys_days(2026y / March / 7) + 9h + 5min + 2s;
  EXPECT_EQ(Format::day(time, "UTC"), "Mar 7, 2026");
  EXPECT_EQ(Format::taken(time, "UTC"), "Saturday, March 7, 2026 \u00B7 9:05 AM");
  // Fourteen hours ahead it is already the next afternoon.
  EXPECT_EQ(Format::taken(time, "Pacific/Kiritimati"), "Saturday, March 7, 2026 \u00B7 11:05 PM");
  EXPECT_EQ(Format::day(time, "America/Los_Angeles"), "Mar 7, 2026");
  EXPECT_EQ(Format::day(time - 10h, "America/Los_Angeles"), "Mar 6, 2026");
  EXPECT_EQ(Format::iso8601(time), "2026-03-07T09:05:02Z");
}

TEST(Format, ParseIso8601) {
  const Format::TimePoint time = sys_days(2026y / March / 7) + 9h + 5min + 2s;
  EXPECT_EQ(Format::parseIso8601("2026-03-07T09:05:02Z"), time);
  EXPECT_EQ(Format::parseIso8601("2026-03-07T10:05:02+01:00"), time);
  for (const char* bad : {"", "2026-03-07", "2026-03-07T09:05:02", "yesterday", "2026-13-07T09:05:02Z",
                          "2026-03-07T09:05:02Zjunk"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Format::parseIso8601(bad), std::nullopt);
  }
  // Years a device may send that no TimePoint holds are held at its ends.
  const std::optional<Format::TimePoint> first = Format::parseIso8601("0001-01-01T00:00:00Z");
  const std::optional<Format::TimePoint> last = Format::parseIso8601("9999-12-31T23:59:59Z");
  ASSERT_TRUE(first && last);
  EXPECT_LT(*first, Format::TimePoint(sys_days(1700y / January / 1)));
  EXPECT_GT(*last, Format::TimePoint(sys_days(2260y / January / 1)));
}

TEST(Format, CountdownAndMonthTitle) {
  for (const auto& [seconds, text] : std::vector<std::pair<std::int64_t, std::string>>{
           {0, "0:00"}, {59, "0:59"}, {61, "1:01"}, {75, "1:15"}, {300, "5:00"}, {3600, "60:00"}}) {
    EXPECT_EQ(Format::countdown(seconds), text);
  }
  for (const auto& [key, title] : std::vector<std::pair<std::string, std::string>>{
           {"2024-05", "May 2024"},
           {"2024-05-17T10:00:00Z", "May 2024"},
           {"1999-12", "December 1999"},
           {"2024-01", "January 2024"},
           {"2024-13", ""},
           {"2024-00", ""},
           {"24-05", ""},
           {"2024/05", ""},
           {"abcd-05", ""},
           {"2024-5", "May 2024"},
           {"", ""}}) {
    EXPECT_EQ(Format::monthTitle(key), title) << key;
  }
  EXPECT_EQ(Format::months().size(), 12u);
}

}  // namespace
}  // namespace lumenvale
