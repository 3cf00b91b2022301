#include "screens/screen_saver.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace lumenvale {

namespace {

QDBusMessage call(const QString& method) {
  return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                        QStringLiteral("/org/freedesktop/ScreenSaver"),
                                        QStringLiteral("org.freedesktop.ScreenSaver"), method);
}

}  // namespace

ScreenSaverInhibitor::ScreenSaverInhibitor(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

ScreenSaverInhibitor::~ScreenSaverInhibitor() {
  wanted_ = false;
  release();
}

void ScreenSaverInhibitor::keepAwake(bool awake) {
  if (awake == wanted_) return;
  wanted_ = awake;
  if (awake) {
    inhibit();
  } else {
    release();
  }
}

void ScreenSaverInhibitor::inhibit() {
  if (asking_ || cookie_ || !bus_.isConnected()) return;
  asking_ = true;
  QDBusMessage message = call(QStringLiteral("Inhibit"));
  message << QStringLiteral("Lumenvale") << QStringLiteral("A laptop is copying the photo library");
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    asking_ = false;
    const QDBusPendingReply<uint> reply = *done;
    if (reply.isError()) return;  // no screen saver: nothing to hold
    cookie_ = reply.value();
    // The laptop left while the hold was being granted.
    if (!wanted_) release();
  });
}

void ScreenSaverInhibitor::release() {
  if (!cookie_) return;
  QDBusMessage message = call(QStringLiteral("UnInhibit"));
  message << *cookie_;
  cookie_.reset();
  bus_.asyncCall(message);
}

}  // namespace lumenvale
