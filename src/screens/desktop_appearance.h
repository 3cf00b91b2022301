// Follows the desktop's light or dark preference while the app runs: reads
// the freedesktop appearance setting ("color-scheme" in the namespace
// "org.freedesktop.appearance") from the settings portal on the session bus
// and listens for its SettingChanged signal. Qt 6.4 reads the desktop's
// palette once at start-up and has no colour-scheme hint that reports
// changes, so this is the only way to learn of a switch. Calls are made
// without waiting; without a portal the first guess stands. Main thread.
#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

namespace lumenvale {

class DesktopAppearance : public QObject {
  Q_OBJECT

 public:
  // The setting's values: no preference, dark, light.
  enum class Scheme : uint { none = 0, dark = 1, light = 2 };

  // schemeOf reads the setting's value as the portal sends it: a uint32,
  // possibly wrapped in one or more variants (Read wraps it twice). Any
  // other value is no preference.
  static Scheme schemeOf(const QVariant& value);
  // isDark: the desktop prefers dark; with no preference, `guess` (what the
  // desktop's palette looked like at start-up) stands.
  static bool isDark(Scheme scheme, bool guess);

  // `told` hears whether the desktop is dark now, whenever that may have
  // changed, starting from the portal's first answer. `guess` stands until
  // the portal says otherwise.
  DesktopAppearance(QDBusConnection bus, bool guess, std::function<void(bool dark)> told, QObject* parent = nullptr);

  bool dark() const { return isDark(scheme_, guess_); }

 private slots:
  void settingChanged(const QString& space, const QString& key, const QDBusVariant& value);

 private:
  void show(Scheme scheme);

  QDBusConnection bus_;
  bool guess_;
  std::function<void(bool)> told_;
  Scheme scheme_ = Scheme::none;
};

}  // namespace lumenvale
