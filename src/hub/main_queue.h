// The main thread as the hub and the screens see it: work posted from any
// thread runs there in order, and repeating timers fire there. The terminal
// front end and the tests run a RunLoop; the app window's event loop is
// another implementation.
#pragma once

#include <chrono>
#include <functional>

namespace lumenvale {

class MainQueue {
 public:
  virtual ~MainQueue() = default;
  // post runs `work` on the main thread, after the work posted before it.
  virtual void post(std::function<void()> work) = 0;
  // isMain reports whether the caller is on the main thread.
  virtual bool isMain() const = 0;
  // every runs `work` on the main thread every `interval`, first one
  // interval from now, for as long as the queue runs.
  virtual void every(std::chrono::milliseconds interval, std::function<void()> work) = 0;
};

}  // namespace lumenvale
