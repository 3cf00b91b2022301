// The hub's main thread when the app window runs: Qt's event loop. Work is
// posted to the application object's thread; timers are QTimers owned by
// this object. Made and destroyed on the main thread.
#pragma once

#include <QObject>

#include "hub/main_queue.h"

namespace lumenvale {

// onMainThread runs `work` on the application's thread, later, from any
// thread. Work that answers a screen's model checks that the model still
// lives (a flag that only the main thread reads and writes).
void onMainThread(std::function<void()> work);

class QtMainQueue : public QObject, public MainQueue {
  Q_OBJECT

 public:
  explicit QtMainQueue(QObject* parent = nullptr);

  void post(std::function<void()> work) override;
  bool isMain() const override;
  void every(std::chrono::milliseconds interval, std::function<void()> work) override;
};

}  // namespace lumenvale
