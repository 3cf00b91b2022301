// Tests of following the desktop's colour scheme over a private session bus:
// a fake settings portal answers the first read and then announces changes;
// the theme of the screens follows each one while running. Other settings
// are ignored, "no preference" keeps the start-up guess, and a bus without
// a portal is no error.
#include "screens/desktop_appearance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QElapsedTimer>

#include "screens/theme.h"
#include "support/private_bus.h"

namespace lumenvale {
namespace {

using testing::PrivateBus;

// wrapped puts `value` into `layers` D-Bus variants, as portals send it.
QVariant wrapped(const QVariant& value, int layers) {
  QVariant result = value;
  for (int i = 0; i < layers; ++i) result = QVariant::fromValue(QDBusVariant(result));
  return result;
}

class FakePortal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

 public:
  uint scheme = 0;
  int reads = 0;

  void change(const QString& space, const QString& key, uint value) {
    if (space == "org.freedesktop.appearance" && key == "color-scheme") scheme = value;
    emit SettingChanged(space, key, QDBusVariant(QVariant(value)));
  }

 public slots:
  // The portal's Read wraps the value in a second variant.
  QDBusVariant Read(const QString&, const QString&) {
    ++reads;
    return QDBusVariant(wrapped(QVariant(scheme), 1));
  }

 signals:
  void SettingChanged(const QString& space, const QString& key, const QDBusVariant& value);
};

bool serve(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(DesktopAppearance, ReadsTheSchemeAsPortalsSendIt) {
  using Scheme = DesktopAppearance::Scheme;
  struct Case {
    const char* name;
    QVariant value;
    Scheme scheme;
  };
  const Case cases[] = {
      {"plain dark", QVariant(uint{1}), Scheme::dark},
      {"light in one variant", wrapped(QVariant(uint{2}), 1), Scheme::light},
      {"dark in two variants (Read)", wrapped(QVariant(uint{1}), 2), Scheme::dark},
      {"no preference", wrapped(QVariant(uint{0}), 1), Scheme::none},
      {"a value from a later version", QVariant(uint{7}), Scheme::none},
      {"not a number", wrapped(QVariant(QStringLiteral("1")), 1), Scheme::none},
      {"nothing", QVariant(), Scheme::none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DesktopAppearance::schemeOf(c.value), c.scheme);
  }
  EXPECT_TRUE(DesktopAppearance::isDark(Scheme::dark, false));
  EXPECT_FALSE(DesktopAppearance::isDark(Scheme::light, true));
  EXPECT_TRUE(DesktopAppearance::isDark(Scheme::none, true));
  EXPECT_FALSE(DesktopAppearance::isDark(Scheme::none, false));
}

TEST(DesktopAppearance, TheSystemThemeFollowsTheDesktopWhileRunning) {
  static int argc = 1;
  static char name[] = "desktop_appearance_test";
  static char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  PrivateBus bus;
  ASSERT_FALSE(bus.address.isEmpty());
  {
    // An app that starts before the portal (which the bus starts on
    // demand) hears it once it comes. Made first, in a process that has
    // used no D-Bus variant yet, as the app's is.
    QDBusConnection early = QDBusConnection::connectToBus(bus.address, "early");
    bool earlyDark = false;
    DesktopAppearance before(early, false, [&](bool dark) { earlyDark = dark; });

    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "service");
    ASSERT_TRUE(service.isConnected());
    FakePortal portal;
    portal.scheme = 1;  // dark when the app starts
    ASSERT_TRUE(service.registerService("org.freedesktop.portal.Desktop"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/portal/desktop", &portal,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, "client");
    {
      Theme theme;  // the owner's choice: "system"
      int told = 0;
      DesktopAppearance appearance(client, false, [&](bool dark) {
        ++told;
        theme.setSystemDark(dark);
      });
      ASSERT_TRUE(serve([&] { return told == 1; }));
      EXPECT_EQ(portal.reads, 1);
      EXPECT_FALSE(earlyDark);
      EXPECT_TRUE(theme.dark());
      EXPECT_EQ(theme.colour("bg"), QColor("#0E100D"));

      portal.change("org.freedesktop.appearance", "color-scheme", 2);
      ASSERT_TRUE(serve([&] { return told == 2; }));
      EXPECT_FALSE(theme.dark());
      portal.change("org.freedesktop.appearance", "color-scheme", 1);
      ASSERT_TRUE(serve([&] { return told == 3 && earlyDark; }));
      portal.change("org.freedesktop.appearance", "color-scheme", 2);
      ASSERT_TRUE(serve([&] { return told == 4 && !earlyDark; }));
      EXPECT_EQ(theme.colour("bg"), QColor("#FFFFFF"));

      // Another setting is not the colour scheme; the change after it is.
      portal.change("org.freedesktop.appearance", "accent-color", 1);
      portal.change("org.gnome.desktop.interface", "color-scheme", 1);
      portal.change("org.freedesktop.appearance", "color-scheme", 1);
      ASSERT_TRUE(serve([&] { return told >= 5; }));
      EXPECT_EQ(told, 5);
      EXPECT_TRUE(theme.dark());

      // No preference: the palette's guess at start-up (light) stands.
      portal.change("org.freedesktop.appearance", "color-scheme", 0);
      ASSERT_TRUE(serve([&] { return told == 6; }));
      EXPECT_FALSE(theme.dark());

      // The owner's own choice still wins over the desktop.
      theme.setChoice("dark");
      portal.change("org.freedesktop.appearance", "color-scheme", 2);
      ASSERT_TRUE(serve([&] { return told == 7; }));
      EXPECT_TRUE(theme.dark());
    }
    QDBusConnection::disconnectFromBus("client");
    QDBusConnection::disconnectFromBus("service");
    QDBusConnection::disconnectFromBus("early");
  }
  // A bus without a portal: the guess stands, and nothing is told.
  {
    int told = 0;
    DesktopAppearance appearance(QDBusConnection::connectToBus(bus.address, "lonely"), true, [&](bool) { ++told; });
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(told, 0);
    EXPECT_TRUE(appearance.dark());
  }
  QDBusConnection::disconnectFromBus("lonely");
}

}  // namespace
}  // namespace lumenvale

#include "desktop_appearance_test.moc"
