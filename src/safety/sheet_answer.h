// The owner's one answer to one delete question, shared by the request
// thread that waits for it and the thread that hears it. The first of the
// owner's answer or the deadline decides; once decided it never changes, so
// an answer that comes too late changes nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <optional>

#include "util/mutex.h"

namespace lumenvale {

class SheetAnswer {
 public:
  // decide records the owner's answer unless one is already recorded;
  // true when this call decided.
  bool decide(bool yes) {
    {
      MutexLock hold(mutex_);
      if (value_) return false;
      value_ = yes;
    }
    done_.notify_all();
    return true;
  }

  // waitUntil blocks until the answer is decided or `until` passes, and
  // returns the answer, or nothing while it is undecided.
  std::optional<bool> waitUntil(std::chrono::steady_clock::time_point until) {
    MutexLock hold(mutex_);
    while (!value_ && hold.waitUntil(done_, until)) {
    }
    return value_;
  }

  // wait blocks until the answer is decided or `deadline` passes, when an
  // undecided answer becomes no; returns the answer.
  bool wait(std::chrono::steady_clock::time_point deadline) {
    MutexLock hold(mutex_);
    while (!value_ && hold.waitUntil(done_, deadline)) {
    }
    if (!value_) value_ = false;
    return *value_;
  }

 private:
  Mutex mutex_;
  std::condition_variable done_;
  std::optional<bool> value_ GUARDED_BY(mutex_);
};

}  // namespace lumenvale
