// Tests of what QML reads: the theme's colours switching together (also
// through a QML binding), and the hub's state and actions through the
// bridge, with Qt's event loop as the hub's main thread.
#include "screens/hub_bridge.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <future>

#include "platform/openssl_keys.h"
#include "screens/app_root.h"
#include "screens/home_model.h"
#include "screens/brand_assets.h"
#include "screens/qt_main_queue.h"
#include "screens/theme.h"
#include "support/memory_keychain.h"
#include "support/memory_photo_store.h"
#include "support/program.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

// One application for the whole test binary, drawing offscreen.
QGuiApplication& application() {
  static int argc = 1;
  static char name[] = "screens_test";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QGuiApplication(argc, argv);
  }();
  return *app;
}

// serve runs Qt's event loop until `done` holds or 10 s pass.
bool serve(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(Theme, EveryColourSwitchesAtOnceAlsoInQml) {
  application();
  Theme theme;
  QQmlEngine engine;
  engine.rootContext()->setContextProperty("theme", &theme);
  QQmlComponent component(&engine);
  component.setData("import QtQml\nQtObject { property var ground: theme.colours.bg; property var lime: theme.colours.lime }",
                    QUrl());
  std::unique_ptr<QObject> view(component.create());
  ASSERT_TRUE(view) << component.errorString().toStdString();
  EXPECT_EQ(view->property("ground").value<QColor>(), QColor("#FFFFFF"));
  int told = 0;
  QObject::connect(&theme, &Theme::appearanceChanged, [&] { ++told; });
  theme.setChoice("dark");
  EXPECT_TRUE(theme.dark());
  EXPECT_EQ(told, 1);
  EXPECT_EQ(view->property("ground").value<QColor>(), QColor("#0E100D"));  // the same view, recoloured
  EXPECT_EQ(view->property("lime").value<QColor>(), QColor("#ACE279"));
  theme.setChoice("system");
  theme.setSystemDark(false);
  EXPECT_EQ(theme.colour("ink"), QColor("#0B0B0B"));
  theme.setSystemDark(true);
  EXPECT_EQ(theme.colour("ink"), QColor("#F2F4EE"));
  EXPECT_EQ(theme.colour("glass").alpha(), 158);  // 0.62 in dark
  EXPECT_FALSE(theme.colour("nothing").isValid());
}

TEST(BrandAssets, FontsAndIconsInTheirColour) {
  application();
  ASSERT_TRUE(registerFonts());
  const QStringList families = QFontDatabase::families();
  EXPECT_TRUE(families.contains(kSansFamily)) << families.join(", ").toStdString();
  EXPECT_TRUE(families.contains(kSerifFamily)) << families.join(", ").toStdString();
  // Every weight is its own file, so each one is there to pick.
  const QStringList styles = QFontDatabase::styles(kSansFamily);
  for (const char* style : {"Thin", "Regular", "Medium", "SemiBold", "Bold", "Black"}) {
    EXPECT_TRUE(styles.contains(style)) << style << " in " << styles.join(", ").toStdString();
  }

  const QImage house = drawIcon("home", QColor("#C93636"), 48);
  ASSERT_FALSE(house.isNull());
  EXPECT_EQ(house.size(), QSize(48, 48));
  int inked = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 48; ++x) {
      const QColor pixel = house.pixelColor(x, y);
      if (pixel.alpha() == 255) {
        ++inked;
        EXPECT_EQ(pixel.rgb(), QColor("#C93636").rgb());
      }
    }
  }
  EXPECT_GT(inked, 48);                 // a drawing, not an empty square
  EXPECT_EQ(house.pixelColor(0, 0).alpha(), 0);  // on a clear ground
  EXPECT_TRUE(drawIcon("no-such-icon", Qt::black, 24).isNull());
  for (const char* name : {"home", "image", "laptop", "gear", "lock", "check", "wifi", "info", "alert", "shield", "copy", "arrow", "close"}) {
    EXPECT_FALSE(drawIcon(name, Qt::black, 24).isNull()) << name;
  }
  IconProvider provider;
  QSize size;
  // As QML asks: the colour's hex without its "#", opacity first when any.
  EXPECT_EQ(provider.requestImage("gear/ACE279", &size, QSize(20, 20)).size(), QSize(20, 20));
  EXPECT_EQ(size, QSize(20, 20));
  const QImage faint = provider.requestImage("check/80C93636", &size, QSize(32, 32));  // one stroke: no overlaps
  int strongest = 0;
  for (int y = 0; y < faint.height(); ++y) {
    for (int x = 0; x < faint.width(); ++x) strongest = std::max(strongest, faint.pixelColor(x, y).alpha());
  }
  // Half the opacity asked for: drawn see-through, not solid, not blank.
  EXPECT_GT(strongest, 64);
  EXPECT_LT(strongest, 224);
}

class FakeListener : public Listener {
 public:
  void setOnPort(Server::PortCallback) override {}
  void start() override {}
};

// A hub over an in-memory library and keychain, with a listener that never
// listens, on Qt's event loop; stopped at the end.
struct TestHub {
  explicit TestHub(std::vector<Addresses::Address> addresses = {}) {
    application();
    Hub::Platform platform;
    platform.main = &main;
    platform.dataFolder = folder.path();
    platform.settings = &settings;
    platform.store = &store;
    platform.loadIdentity = [this] {
      OpenSslKeys keys;
      return Identity::loadOrCreate(keychain, keys, systemNow());
    };
    platform.makeListener = [](Server::Handler, const Identity&, const std::string&) {
      return std::make_unique<FakeListener>();
    };
    platform.addresses = [addresses] { return addresses; };
    hub = Hub::make(platform);
  }
  ~TestHub() { hub->stop(); }

  testing::TemporaryFolder folder{"screens-hub"};
  Settings settings{folder.path() + "/settings.json"};
  testing::MemoryPhotoStore store;
  testing::MemoryKeychain keychain;
  QtMainQueue main;
  std::shared_ptr<Hub> hub;
};

TEST(HubBridge, ShowsTheStateAndCarriesTheActions) {
  TestHub test(std::vector<Addresses::Address>{{"192.168.1.5", "wlan0"}});
  std::shared_ptr<Hub>& hub = test.hub;
  HubBridge bridge(hub);
  int changes = 0;
  QObject::connect(&bridge, &HubBridge::changed, [&] { ++changes; });

  EXPECT_FALSE(bridge.welcomed());
  EXPECT_EQ(bridge.theme(), "system");
  bridge.welcome();
  EXPECT_TRUE(bridge.welcomed());  // on the main thread: at once
  EXPECT_GE(changes, 1);
  EXPECT_EQ(test.settings.get("welcomed"), nlohmann::json(true));

  bridge.start("Desk Phone");
  ASSERT_TRUE(serve([&] { return !bridge.code().isEmpty(); }));
  EXPECT_EQ(bridge.deviceName(), "Desk Phone");
  EXPECT_EQ(bridge.code().size(), 9);
  EXPECT_EQ(bridge.addresses().size(), 1);
  // No port yet: the card says there is no network.
  EXPECT_EQ(bridge.hero().value("case"), "noNetwork");

  // The name of the file under way, for the Home card.
  test.store.add(testing::MemoryPhotoStore::photo("L1"));
  EXPECT_EQ(bridge.assetName(QString::fromStdString(PhotoLibrary::wireId("L1"))), "IMG_L1.JPG");
  EXPECT_EQ(bridge.assetName(QString::fromStdString(PhotoLibrary::wireId("gone"))), "");
  EXPECT_EQ(bridge.assetName(""), "");

  // A delete question from a connection thread, answered from QML.
  std::future<bool> asked = std::async(std::launch::async, [&] {
    return hub->trash({PhotoLibrary::wireId("nothing-here")}, nullptr);
  });
  ASSERT_TRUE(serve([&] { return !bridge.deleteAsk().isEmpty(); }));
  EXPECT_EQ(bridge.deleteAsk().value("ids").toStringList(), QStringList{QString::fromStdString(PhotoLibrary::wireId("nothing-here"))});
  bridge.answerDelete(false);
  EXPECT_TRUE(bridge.deleteAsk().isEmpty());
  EXPECT_FALSE(asked.get());
}

TEST(AppRoot, WelcomeThenPermissionsThenTheFrame) {
  TestHub test;
  std::shared_ptr<Hub>& hub = test.hub;
  HubBridge bridge(hub);
  PhotoAccess access = PhotoAccess::notAsked;
  AppRoot root(bridge, [&] { return access; }, "Phone");

  root.appeared();
  EXPECT_EQ(root.screen(), "welcome");
  bridge.welcome();
  EXPECT_EQ(root.screen(), "permissions");
  EXPECT_EQ(root.access(), "notAsked");
  root.continueOn();  // not granted: stays
  EXPECT_EQ(root.screen(), "permissions");

  access = PhotoAccess::limited;  // the owner chose folders
  root.becameActive();
  EXPECT_EQ(root.access(), "limited");
  EXPECT_EQ(root.screen(), "permissions");  // until the owner continues
  ASSERT_TRUE(serve([&] { return !bridge.code().isEmpty(); }));  // and the server started
  root.continueOn();
  EXPECT_EQ(root.screen(), "frame");

  access = PhotoAccess::denied;  // the folders went away meanwhile
  root.becameActive();
  EXPECT_EQ(root.screen(), "permissions");
  access = PhotoAccess::full;
  root.becameActive();
  EXPECT_EQ(root.screen(), "permissions");
  root.continueOn();
  EXPECT_EQ(root.screen(), "frame");
}

}  // namespace
}  // namespace lumenvale

namespace lumenvale {
namespace {

TEST(HomeModel, CountsCoverNoticesAndTheCopiedRow) {
  TestHub test(std::vector<Addresses::Address>{{"192.168.1.5", "wlan0"}, {"10.0.0.2", "eth0"}});
  std::shared_ptr<Hub>& hub = test.hub;
  HubBridge bridge(hub);
  AppRoot root(bridge, [] { return PhotoAccess::limited; }, "Phone");
  int counted = 0;
  QStringList clipboard;
  HomeModel::Sources sources;
  sources.count = [&] {
    ++counted;
    return std::pair<std::int64_t, std::int64_t>{5, 3};
  };
  sources.firstPage = [] {
    Asset video, photo;
    video.id = "V";
    video.kind = "video";
    photo.id = "P";
    photo.kind = "photo";
    return std::vector<Asset>{video, photo};
  };
  sources.copy = [&](const QString& text) { clipboard.append(text); };
  HomeModel home(bridge, root, sources);

  EXPECT_EQ(home.onPhone(), QString::fromUtf8("\u2013"));  // until counted
  home.shown();
  ASSERT_TRUE(serve([&] { return home.onPhone() == "3" && home.cover() == "P"; }));
  EXPECT_EQ(home.safe(), "3");
  EXPECT_EQ(home.notSafe(), "0");
  EXPECT_EQ(home.safeCount(), 3);
  ASSERT_EQ(home.notices().size(), 1);
  EXPECT_EQ(home.notices()[0].toMap().value("key"), "access.limited");

  bridge.start("Phone");
  ASSERT_TRUE(serve([&] { return home.addressRows().size() == 2; }));
  EXPECT_EQ(home.addressRows()[0].toMap().value("text"), "192.168.1.5:0");  // no port yet
  EXPECT_EQ(home.codeFirst().size(), 4);
  EXPECT_EQ(home.codeSecond().size(), 4);

  home.copy("192.168.1.5:41820");
  EXPECT_EQ(home.copied(), "192.168.1.5:41820");
  EXPECT_EQ(clipboard, QStringList{"192.168.1.5:41820"});
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(serve([&] { return home.copied().isEmpty(); }));
  EXPECT_GE(timer.elapsed(), 1950);  // the copied state lasts 2 seconds
}

}  // namespace
}  // namespace lumenvale
