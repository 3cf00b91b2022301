// Keeps the screen on while a laptop is present: asks the desktop's screen
// saver (org.freedesktop.ScreenSaver on the session bus) to hold off, and
// lets it go when the laptop leaves or this object goes. Calls are made
// without waiting, so a slow or missing screen saver never stalls the
// screens; without one nothing happens. Main thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <optional>

namespace lumenvale {

class ScreenSaverInhibitor : public QObject {
  Q_OBJECT

 public:
  explicit ScreenSaverInhibitor(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  ~ScreenSaverInhibitor() override;

  // keepAwake holds the screen saver off (true) or lets it go (false);
  // repeating the same wish changes nothing.
  void keepAwake(bool awake);
  // holding: the screen saver has granted a hold that is not let go yet.
  bool holding() const { return cookie_.has_value(); }

 private:
  void inhibit();
  void release();

  QDBusConnection bus_;
  bool wanted_ = false;
  bool asking_ = false;         // an Inhibit call is under way
  std::optional<uint> cookie_;  // the hold granted
};

}  // namespace lumenvale
