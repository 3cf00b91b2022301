#include "screens/background.h"

#include <QThreadPool>

namespace lumenvale::Background {

namespace {

QThreadPool& pool() {
  static QThreadPool threads;
  static const bool sized = [] {
    threads.setMaxThreadCount(kThreads);
    return true;
  }();
  (void)sized;
  return threads;
}

}  // namespace

void run(std::function<void()> work) { pool().start(std::move(work)); }

bool wait(std::chrono::milliseconds longest) { return pool().waitForDone(static_cast<int>(longest.count())); }

}  // namespace lumenvale::Background
