// Tests of the screen saver hold over a private session bus: a fake
// freedesktop screen saver counts the holds; the inhibitor takes one while
// a laptop is present, lets it go after, never takes two, and lets go when
// it is destroyed. A bus without a screen saver is no error.
#include "screens/screen_saver.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <set>

#include "support/private_bus.h"

namespace lumenvale {
namespace {

class FakeScreenSaver : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

 public slots:
  uint Inhibit(const QString& application, const QString&) {
    ++inhibits;
    lastApplication = application;
    holds.insert(++next);
    return next;
  }
  void UnInhibit(uint cookie) { holds.erase(cookie); }

 public:
  std::set<uint> holds;
  uint next = 0;
  int inhibits = 0;
  QString lastApplication;
};

bool serve(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

using testing::PrivateBus;

TEST(ScreenSaverInhibitor, HoldsWhileALaptopIsPresent) {
  static int argc = 1;
  static char name[] = "screen_saver_test";
  static char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  PrivateBus bus;
  ASSERT_FALSE(bus.address.isEmpty());
  {
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "service");
    ASSERT_TRUE(service.isConnected());
    FakeScreenSaver saver;
    ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/ScreenSaver", &saver, QDBusConnection::ExportAllSlots));
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, "client");
    {
      ScreenSaverInhibitor inhibitor(client);
      inhibitor.keepAwake(true);
      inhibitor.keepAwake(true);  // the same wish: no second hold
      ASSERT_TRUE(serve([&] { return inhibitor.holding(); }));
      EXPECT_EQ(saver.holds.size(), 1u);
      EXPECT_EQ(saver.inhibits, 1);
      EXPECT_EQ(saver.lastApplication, "Lumenvale");
      inhibitor.keepAwake(false);
      EXPECT_FALSE(inhibitor.holding());
      ASSERT_TRUE(serve([&] { return saver.holds.empty(); }));

      // Gone again before the hold is granted: it is let go when it comes.
      inhibitor.keepAwake(true);
      inhibitor.keepAwake(false);
      ASSERT_TRUE(serve([&] { return saver.inhibits == 2; }));
      ASSERT_TRUE(serve([&] { return saver.holds.empty() && !inhibitor.holding(); }));

      inhibitor.keepAwake(true);
      ASSERT_TRUE(serve([&] { return inhibitor.holding(); }));
    }
    // Destroyed while holding: the hold is let go.
    ASSERT_TRUE(serve([&] { return saver.holds.empty(); }));
    QDBusConnection::disconnectFromBus("client");
    QDBusConnection::disconnectFromBus("service");
  }
  // A bus with no screen saver on it: asked, refused, no hold, no harm.
  {
    ScreenSaverInhibitor inhibitor(QDBusConnection::connectToBus(bus.address, "lonely"));
    inhibitor.keepAwake(true);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(inhibitor.holding());
  }
  QDBusConnection::disconnectFromBus("lonely");
}

}  // namespace
}  // namespace lumenvale

#include "screen_saver_test.moc"
