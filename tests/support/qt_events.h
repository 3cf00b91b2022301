// Qt for the screens' tests: one offscreen application for the whole test
// binary, with the app's English texts, and a way to run its event loop
// until something holds. Main thread only.
#pragma once

#include <QElapsedTimer>
#include <QGuiApplication>
#include <chrono>
#include <functional>

#include "screens/texts.h"

namespace lumenvale::testing {

// application makes the test binary's application on first use.
inline QGuiApplication& application() {
  static int argc = 1;
  static char name[] = "lumenvale_test";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* made = new QGuiApplication(argc, argv);
    if (!installTexts(*made)) qFatal("The English texts did not load.");
    return made;
  }();
  return *app;
}

// runEventsUntil runs the event loop until `done` holds or `limit` passes,
// and says whether it holds.
inline bool runEventsUntil(const std::function<bool()>& done,
                           std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < limit.count()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

}  // namespace lumenvale::testing
