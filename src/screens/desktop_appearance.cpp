#include "screens/desktop_appearance.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace lumenvale {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

}  // namespace

DesktopAppearance::Scheme DesktopAppearance::schemeOf(const QVariant& value) {
  QVariant inner = value;
  // A variant inside a variant arrives either as QDBusVariant or, when the
  // reply was not demarshalled by type, as a QDBusArgument holding one; a
  // few layers are enough for any portal.
  for (int depth = 0; depth < 4; ++depth) {
    if (inner.metaType() == QMetaType::fromType<QDBusVariant>()) {
      inner = inner.value<QDBusVariant>().variant();
    } else if (inner.metaType() == QMetaType::fromType<QDBusArgument>()) {
      const QDBusArgument argument = inner.value<QDBusArgument>();
      if (argument.currentType() != QDBusArgument::VariantType) break;
      inner = qdbus_cast<QDBusVariant>(argument).variant();
    } else {
      break;
    }
  }
  if (inner.metaType() != QMetaType::fromType<uint>()) return Scheme::none;
  switch (inner.toUInt()) {
    case 1: return Scheme::dark;
    case 2: return Scheme::light;
    default: return Scheme::none;
  }
}

bool DesktopAppearance::isDark(Scheme scheme, bool guess) {
  switch (scheme) {
    case Scheme::dark: return true;
    case Scheme::light: return false;
    case Scheme::none: break;
  }
  return guess;
}

DesktopAppearance::DesktopAppearance(QDBusConnection bus, bool guess, std::function<void(bool dark)> told,
                                     QObject* parent)
    : QObject(parent), bus_(std::move(bus)), guess_(guess), told_(std::move(told)) {
  if (!bus_.isConnected()) return;
  // QtDBus matches the slot's arguments by type name, and QDBusVariant has
  // no name until it is registered: without this the connection is
  // refused, silently, in a process that has not used one yet.
  qRegisterMetaType<QDBusVariant>();
  // Listening first, so that a change between the read and its answer is
  // not missed; a late answer to the read then tells the same value again.
  bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
               SLOT(settingChanged(QString, QString, QDBusVariant)));
  QDBusMessage read = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
  read << kNamespace << kKey;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(read), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *done;
    if (reply.isError()) return;  // no portal, or it does not know the key
    show(schemeOf(QVariant::fromValue(reply.value())));
  });
}

void DesktopAppearance::settingChanged(const QString& space, const QString& key, const QDBusVariant& value) {
  if (space != kNamespace || key != kKey) return;
  show(schemeOf(QVariant::fromValue(value)));
}

void DesktopAppearance::show(Scheme scheme) {
  scheme_ = scheme;
  if (told_) told_(dark());
}

}  // namespace lumenvale
