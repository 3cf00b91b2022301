// Tests of the run loop: posted work in order on the running thread, from
// other threads too, timers, and stop.
#include "hub/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, RunsPostedWorkInOrderOnItsThread) {
  RunLoop loop;
  std::vector<int> done;
  std::atomic<bool> onMain{true};
  EXPECT_FALSE(loop.isMain());
  std::thread other([&] {
    for (int i = 0; i < 100; ++i)
      loop.post([&, i] {
        done.push_back(i);
        if (!loop.isMain()) onMain = false;
      });
  });
  other.join();
  EXPECT_TRUE(loop.runUntil([&] { return done.size() == 100; }, 5s));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(done[static_cast<std::size_t>(i)], i);
  EXPECT_TRUE(onMain);
  EXPECT_FALSE(loop.isMain());
}

TEST(RunLoop, TimersRepeatAndStopEndsTheRun) {
  RunLoop loop;
  int ticks = 0;
  loop.every(20ms, [&] {
    if (++ticks == 5) loop.stop();
  });
  const auto started = std::chrono::steady_clock::now();
  std::thread runner([&] { loop.run(); });
  runner.join();
  EXPECT_EQ(ticks, 5);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);
}

}  // namespace
}  // namespace lumenvale
