#include "hub/send_speed.h"

#include <gtest/gtest.h>

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

const TimePoint kNow = TimePoint(std::chrono::seconds(1800000000));

TEST(SendSpeed, FromTheOldestToTheNewestSample) {
  const std::vector<std::pair<std::vector<SendSpeed::Sample>, std::int64_t>> cases = {
      {{}, 0},
      {{{kNow, 500}}, 0},
      {{{kNow, 1000}, {kNow + 4s, 9000}}, 2000},
      {{{kNow, 1000}, {kNow + 2s, 2000}, {kNow + 4s, 9000}}, 2000},
      {{{kNow, 1000}, {kNow, 9000}}, 0},
      {{{kNow, 9000}, {kNow + 4s, 1000}}, 0},
      {{{kNow, 0}, {kNow + 3s, 10}}, 3},    // truncated
      {{{kNow + 4s, 0}, {kNow, 9000}}, 0},  // a clock set back
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(SendSpeed::of(cases[i].first), cases[i].second);
  }
}

}  // namespace
}  // namespace lumenvale
