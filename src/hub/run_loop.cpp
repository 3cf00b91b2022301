#include "hub/run_loop.h"

namespace lumenvale {

void RunLoop::post(std::function<void()> work) {
  {
    MutexLock hold(mutex_);
    work_.push_back(std::move(work));
  }
  changed_.notify_all();
}

bool RunLoop::isMain() const {
  MutexLock hold(mutex_);
  return main_ == std::this_thread::get_id();
}

void RunLoop::every(std::chrono::milliseconds interval, std::function<void()> work) {
  {
    MutexLock hold(mutex_);
    timers_.push_back({Steady::now() + interval, interval, std::move(work)});
  }
  changed_.notify_all();
}

bool RunLoop::serveOne(Steady::time_point until) {
  std::function<void()> next;
  {
    MutexLock hold(mutex_);
    for (;;) {
      if (stopped_) return false;
      if (!work_.empty()) {
        next = std::move(work_.front());
        work_.pop_front();
        break;
      }
      Timer* due = nullptr;
      for (Timer& timer : timers_) {
        if (due == nullptr || timer.next < due->next) due = &timer;
      }
      const auto now = Steady::now();
      if (due != nullptr && due->next <= now) {
        // Late timers fire once and keep their rhythm from now.
        due->next = now + due->interval;
        next = due->work;
        break;
      }
      if (now >= until) return false;
      const auto wake = due != nullptr ? std::min(until, due->next) : until;
      hold.waitUntil(changed_, wake);
    }
  }
  next();
  return true;
}

void RunLoop::run() {
  {
    MutexLock hold(mutex_);
    main_ = std::this_thread::get_id();
  }
  for (;;) {
    {
      MutexLock hold(mutex_);
      if (stopped_) break;
    }
    // A far wake-up rather than time_point::max(), which some waits turn
    // into a time in the past.
    serveOne(Steady::now() + std::chrono::hours(1));
  }
  MutexLock hold(mutex_);
  main_ = {};
}

bool RunLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  {
    MutexLock hold(mutex_);
    main_ = std::this_thread::get_id();
  }
  const auto deadline = Steady::now() + timeout;
  bool result = done();
  while (!result && Steady::now() < deadline) {
    serveOne(std::min(deadline, Steady::now() + std::chrono::milliseconds(10)));
    result = done();
  }
  MutexLock hold(mutex_);
  main_ = {};
  return result;
}

void RunLoop::stop() {
  {
    MutexLock hold(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

}  // namespace lumenvale
