// A small run loop: the thread that calls run() is its main thread until
// run() returns. Posted work and timers run there one at a time.
#pragma once

#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

#include "hub/main_queue.h"
#include "util/mutex.h"

namespace lumenvale {

class RunLoop : public MainQueue {
 public:
  void post(std::function<void()> work) override;
  bool isMain() const override;
  void every(std::chrono::milliseconds interval, std::function<void()> work) override;

  // run serves posted work and timers on the calling thread until stop().
  void run();
  // runUntil serves them until `done` holds (checked after each piece of
  // work and at least every 10 ms) or `timeout` passes; returns `done()`.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // stop ends run() once the work under way is done; from any thread.
  void stop();

 private:
  using Steady = std::chrono::steady_clock;
  struct Timer {
    Steady::time_point next;
    std::chrono::milliseconds interval;
    std::function<void()> work;
  };

  // serveOne runs the next due piece of work, waiting until `until` at
  // most; false when nothing ran.
  bool serveOne(Steady::time_point until);

  mutable Mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> work_ GUARDED_BY(mutex_);
  std::vector<Timer> timers_ GUARDED_BY(mutex_);
  bool stopped_ GUARDED_BY(mutex_) = false;
  std::thread::id main_ GUARDED_BY(mutex_);  // set while serving
};

}  // namespace lumenvale
