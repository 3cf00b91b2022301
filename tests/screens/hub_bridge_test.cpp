// Tests of what QML reads: the theme's colours switching together (also
// through a QML binding), and the hub's state and actions through the
// bridge, with Qt's event loop as the hub's main thread.
#include "screens/hub_bridge.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <atomic>
#include <future>
#include <thread>

#include "platform/openssl_keys.h"
#include "platform/settings.h"
#include "screens/app_root.h"
#include "screens/background.h"
#include "screens/delete_sheet_model.h"
#include "screens/home_model.h"
#include "screens/brand_assets.h"
#include "screens/qt_main_queue.h"
#include "screens/texts.h"
#include "screens/theme.h"
#include "support/memory_keychain.h"
#include "support/memory_photo_store.h"
#include "support/program.h"
#include "support/qt_events.h"
#include "util/atomic_file.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

using testing::application;

// serve runs Qt's event loop until `done` holds or 10 s pass.
bool serve(const std::function<bool()>& done) { return testing::runEventsUntil(done); }

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
  for (const char* name : {"home", "image", "laptop", "gear", "lock", "check", "wifi", "info", "alert", "shield", "copy", "arrow",
                           "close", "star", "transfer"}) {
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
  // The models' reads use the store: they end before it goes.
  ~TestHub() {
    Background::wait(std::chrono::seconds(10));
    hub->stop();
  }

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

  // A laptop paired before this start, shown with the day it paired.
  ASSERT_TRUE(AtomicFile::write(test.folder.path() + "/laptops.json",
                                R"([{"id": "mac-1", "name": "Studio", "tokenHash": "00", "pairedAt": 1700000000000.5}])"));
  bridge.start("Desk Phone");
  ASSERT_TRUE(serve([&] { return !bridge.laptopRows().isEmpty(); }));
  EXPECT_EQ(bridge.laptopRows().front().toMap().value("day"), "Nov 14, 2023");
  // The pairing may tell of its first code before the start-up's own update,
  // which carries the name and the addresses, reaches the main thread.
  ASSERT_TRUE(serve([&] { return !bridge.code().isEmpty() && !bridge.deviceName().isEmpty(); }));
  EXPECT_EQ(bridge.deviceName(), "Desk Phone");
  EXPECT_EQ(bridge.code().size(), 9);
  EXPECT_EQ(bridge.addresses().size(), 1);
  // No port yet: the card says there is no network.
  EXPECT_EQ(bridge.hero().value("case"), "noNetwork");

  // The name of the file under way, for the Home card.
  test.store.add(testing::MemoryPhotoStore::photo("L1"));
  EXPECT_EQ(describeAsset(test.hub->library(), QString::fromStdString(PhotoLibrary::wireId("L1"))).name, "IMG_L1.JPG");
  EXPECT_EQ(describeAsset(test.hub->library(), QString::fromStdString(PhotoLibrary::wireId("gone"))).name, "");
  EXPECT_EQ(describeAsset(test.hub->library(), "").name, "");
  // 1000 s after 2001 began, with the store's six bytes of "pixels".
  EXPECT_EQ(describeAsset(test.hub->library(), QString::fromStdString(PhotoLibrary::wireId("L1"))).detail,
            QString::fromUtf8("6 B \u00B7 Jan 1, 2001"));
  EXPECT_EQ(describeAsset(test.hub->library(), QString::fromStdString(PhotoLibrary::wireId("gone"))).detail, "");

  // A delete question from a connection thread, answered from QML.
  auto asked = std::async(std::launch::async, [&] {
    return hub->trash({{PhotoLibrary::wireId("nothing-here")}, 0, 0, 0, {}, {}}, nullptr);
  });
  ASSERT_TRUE(serve([&] { return !bridge.deleteAsk().isEmpty(); }));
  EXPECT_EQ(bridge.deleteAsk().value("ids").toStringList(), QStringList{QString::fromStdString(PhotoLibrary::wireId("nothing-here"))});
  bridge.answerDelete(false);
  EXPECT_TRUE(bridge.deleteAsk().isEmpty());
  EXPECT_FALSE(asked.get());
}

TEST(HubBridge, ShowsTheFingerprintALaptopAsksToCompare) {
  TestHub test;
  HubBridge bridge(test.hub);
  EXPECT_TRUE(bridge.fingerprint().isEmpty());  // no identity yet
  bridge.start("Phone");
  ASSERT_TRUE(serve([&] { return !bridge.fingerprint().isEmpty(); }));
  const QStringList groups = bridge.fingerprint();
  ASSERT_EQ(groups.size(), 16);
  for (const QString& group : groups) EXPECT_EQ(group.size(), 4);
  // The same digits the laptop prints after "Fingerprint: ".
  EXPECT_EQ(groups.join("").toStdString(), test.hub->state().fingerprint);
  EXPECT_EQ(test.hub->state().fingerprint.size(), 64u);
}

TEST(HubBridge, TheCodesTimeLeftIsRoundedUpAndStopsAtZero) {
  TestHub test;
  TimePoint now = systemNow();
  HubBridge bridge(test.hub, [&] { return now; });
  EXPECT_TRUE(bridge.pairing().isEmpty());
  bridge.start("Phone");
  ASSERT_TRUE(serve([&] { return !bridge.pairing().isEmpty(); }));
  const QString code = bridge.pairing().value("code").toString();
  EXPECT_EQ(bridge.pairing().value("first").toString() + "-" + bridge.pairing().value("second").toString(), code);
  const TimePoint expires = test.hub->state().code->expiresAt;
  now = expires - std::chrono::milliseconds(200);  // the bridge looks again within a second
  EXPECT_TRUE(serve([&] { return bridge.pairing().value("left") == "0:01"; }));
  now = expires + std::chrono::seconds(5);  // expired, not yet replaced
  EXPECT_TRUE(serve([&] { return bridge.pairing().value("left") == "0:00"; }));
  EXPECT_TRUE(bridge.laptopRows().isEmpty());
}

TEST(DeleteSheet, ShowsTwelvePicturesTheCountAndWhenTheyWereTaken) {
  TestHub test;
  std::vector<std::string> ids;
  for (int i = 0; i < 40; ++i) {
    // One a day from 2024-05-01 12:00 UTC (seconds from 2001).
    const std::string local = "D" + std::to_string(i);
    test.store.add(testing::MemoryPhotoStore::photo(local, 736257600.0 + 86400.0 * i));
    ids.push_back(PhotoLibrary::wireId(local));
  }
  HubBridge bridge(test.hub);
  DeleteSheetModel sheet(bridge, [hub = test.hub](const std::vector<std::string>& asked) {
    return readAsked(hub->library(), asked);
  });
  EXPECT_FALSE(sheet.asking());

  auto asked = std::async(std::launch::async, [&] { return test.hub->trash({ids, 0, 0, 0, {}, {}}, nullptr); });
  ASSERT_TRUE(serve([&] { return sheet.asking(); }));
  EXPECT_EQ(sheet.count(), 40);
  EXPECT_EQ(sheet.thumbIds().size(), 12);
  EXPECT_EQ(sheet.thumbIds().front().toStdString(), ids.front());
  EXPECT_EQ(sheet.fromText(), "From a laptop");
  ASSERT_TRUE(serve([&] { return !sheet.dateLine().isEmpty(); }));
  EXPECT_EQ(sheet.dateLine(), QString::fromUtf8("Taken May 1, 2024 \u2013 Jun 9, 2024"));
  EXPECT_EQ(sheet.title(), "Delete 40 photos from this device?");
  EXPECT_EQ(sheet.confirm(), "Move 40 photos to the Trash");
  bridge.answerDelete(false);
  EXPECT_FALSE(asked.get());
  ASSERT_TRUE(serve([&] { return !sheet.asking(); }));
  EXPECT_EQ(sheet.dateLine(), "");

  // The texts name what is asked: photos, videos, or both (also until read).
  using Asked = DeleteSheetModel::Asked;
  const struct {
    int count;
    std::optional<Asked> asked;
    const char* title;
    const char* confirm;
  } named[] = {
      {1, Asked{{}, 1, 0}, "Delete 1 photo from this device?", "Move 1 photo to the Trash"},
      {1, Asked{{}, 0, 1}, "Delete 1 video from this device?", "Move 1 video to the Trash"},
      {3, Asked{{}, 0, 3}, "Delete 3 videos from this device?", "Move 3 videos to the Trash"},
      {1204, Asked{{}, 1200, 4}, "Delete 1,204 photos and videos from this device?", "Move 1,204 photos and videos to the Trash"},
      {1, std::nullopt, "Delete 1 photo or video from this device?", "Move 1 photo or video to the Trash"},
      {2, Asked{}, "Delete 2 photos and videos from this device?", "Move 2 photos and videos to the Trash"},  // all gone
  };
  for (const auto& c : named) {
    SCOPED_TRACE(c.title);
    std::vector<std::string> some(ids.begin(), ids.begin() + std::min<int>(c.count, 40));
    while (some.size() < static_cast<std::size_t>(c.count)) some.push_back(ids.front());
    DeleteSheetModel model(bridge, [asked = c.asked](const std::vector<std::string>&) {
      if (!asked) throw std::runtime_error("the library cannot be read");
      return *asked;
    });
    auto waiting = std::async(std::launch::async, [&] { return test.hub->trash({some, 0, 0, 0, {}, {}}, nullptr); });
    ASSERT_TRUE(serve([&] { return model.asking(); }));
    EXPECT_TRUE(serve([&] { return model.title() == c.title; })) << model.title().toStdString();
    EXPECT_EQ(model.confirm(), c.confirm);
    bridge.answerDelete(false);
    waiting.get();
    ASSERT_TRUE(serve([&] { return !model.asking(); }));
  }

  // One asset, or several of one day: the day alone.
  EXPECT_EQ(dateLineFor({736257600.0}), "Taken May 1, 2024");
  EXPECT_EQ(dateLineFor({736257600.0, 736257600.0 + 3600}), "Taken May 1, 2024");
  EXPECT_EQ(dateLineFor({}), "");
}

TEST(AppRoot, WelcomeThenPermissionsThenTheFrame) {
  TestHub test;
  std::shared_ptr<Hub>& hub = test.hub;
  HubBridge bridge(hub);
  LibraryAccess access = LibraryAccess::notAsked;
  AppRoot root(bridge, [&] { return access; }, "Phone");

  root.appeared();
  EXPECT_EQ(root.screen(), "welcome");
  bridge.welcome();
  EXPECT_EQ(root.screen(), "permissions");
  EXPECT_EQ(root.access(), "notAsked");
  root.continueOn();  // not granted: stays
  EXPECT_EQ(root.screen(), "permissions");

  access = LibraryAccess::limited;  // the owner chose folders
  root.becameActive();
  EXPECT_EQ(root.access(), "limited");
  EXPECT_EQ(root.screen(), "permissions");  // until the owner continues
  ASSERT_TRUE(serve([&] { return !bridge.code().isEmpty(); }));  // and the server started
  root.continueOn();
  EXPECT_EQ(root.screen(), "frame");

  access = LibraryAccess::denied;  // the folders went away meanwhile
  root.becameActive();
  EXPECT_EQ(root.screen(), "permissions");
  access = LibraryAccess::full;
  root.becameActive();
  EXPECT_EQ(root.screen(), "permissions");
  root.continueOn();
  EXPECT_EQ(root.screen(), "frame");
}

TEST(AppRoot, TheChooserOpensOnTheLibraryOrThePicturesAndFoldersCanGo) {
  TestHub test;
  HubBridge bridge(test.hub);
  AppRoot root(bridge, [] { return LibraryAccess::full; }, "Phone");
  testing::TemporaryFolder pictures{"root-pictures"};
  testing::TemporaryFolder first{"root-first"};
  testing::TemporaryFolder second{"root-second"};
  std::vector<std::string> served;
  std::vector<std::string> removed;
  AppRoot::Folders folders;
  folders.served = [&] { return served; };
  folders.remove = [&](const std::string& folder) {
    removed.push_back(folder);
    if (served.size() < 2) return false;
    std::erase(served, folder);
    return true;
  };
  folders.pictures = pictures.path();
  root.setFolders(folders);

  struct Case {
    const char* name;
    std::vector<std::string> served;
    std::string pictures;
    QString start;
  };
  const std::string gone = pictures.path() + "/gone";
  const Case cases[] = {
      {"nothing chosen: the pictures", {}, pictures.path(), QString::fromStdString(pictures.path())},
      {"the first served folder", {first.path(), second.path()}, pictures.path(), QString::fromStdString(first.path())},
      {"a served folder that went away", {gone, second.path()}, pictures.path(), QString::fromStdString(second.path())},
      {"no pictures folder: home", {}, gone, QDir::homePath()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    served = c.served;
    folders.pictures = c.pictures;
    root.setFolders(folders);
    EXPECT_EQ(root.chooserStart(), QUrl::fromLocalFile(c.start));
    EXPECT_NE(root.chooserStart(), QUrl::fromLocalFile(QDir::currentPath()));
  }

  served = {first.path(), second.path()};
  EXPECT_EQ(root.folders(), (QStringList{QString::fromStdString(first.path()), QString::fromStdString(second.path())}));
  int changes = 0;
  QObject::connect(&root, &AppRoot::changed, [&] { ++changes; });
  root.removeFolder(QString::fromStdString(first.path()));
  EXPECT_EQ(root.folders(), QStringList{QString::fromStdString(second.path())});
  EXPECT_EQ(changes, 1);
  root.removeFolder(QString::fromStdString(second.path()));  // refused: nothing changes
  EXPECT_EQ(root.folders(), QStringList{QString::fromStdString(second.path())});
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(removed.size(), 2u);
}

}  // namespace
}  // namespace lumenvale

namespace lumenvale {
namespace {

TEST(HomeModel, CountsCoverNoticesAndTheCopiedRow) {
  TestHub test(std::vector<Addresses::Address>{{"192.168.1.5", "wlan0"}, {"10.0.0.2", "eth0"}});
  std::shared_ptr<Hub>& hub = test.hub;
  HubBridge bridge(hub);
  AppRoot root(bridge, [] { return LibraryAccess::limited; }, "Phone");
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

// Shown before the hub's start-up made its marks store, Home counted 0
// safe and kept saying so: it counts again when start-up ends, when marks
// change and when an index ends, and picks the cover again after an index.
TEST(HomeModel, CountsAgainWhenStartUpEndsAndWhenTheLibraryChanges) {
  TestHub test;
  std::shared_ptr<Hub>& hub = test.hub;
  HubBridge bridge(hub);
  AppRoot root(bridge, [] { return LibraryAccess::full; }, "Phone");
  std::atomic<int> counted = 0;
  std::atomic<int> picked = 0;
  HomeModel::Sources sources;
  sources.count = [&] {
    const int made = ++counted;
    return std::pair<std::int64_t, std::int64_t>{made, 10};
  };
  sources.firstPage = [&] {
    ++picked;
    return std::vector<Asset>{};
  };
  HomeModel home(bridge, root, sources);

  hub->libraryChanged();  // before the tab shows, nothing is counted
  ASSERT_TRUE(serve([&] { return bridge.library() == 1; }));
  EXPECT_EQ(counted, 0);

  home.shown();
  ASSERT_TRUE(serve([&] { return home.safe() == "1"; }));
  bridge.start("Phone");
  ASSERT_TRUE(serve([&] { return home.safe() == "2"; }));  // the marks store is made
  EXPECT_EQ(picked, 1);

  hub->libraryChanged();
  ASSERT_TRUE(serve([&] { return home.safe() == "3" && picked == 2; }));
  EXPECT_EQ(home.notSafe(), "7");
}

// The file under way is looked up off the main thread (a stalled disk must
// not freeze the screens), and only the latest file's lines are shown.
TEST(HomeModel, LooksUpTheFileUnderWayOffTheMainThread) {
  TestHub test;
  HubBridge bridge(test.hub);
  AppRoot root(bridge, [] { return LibraryAccess::full; }, "Phone");
  const std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<bool> onMain = false;
  HomeModel::Sources sources;
  sources.describe = [&](const QString& id) {
    if (std::this_thread::get_id() == mainThread) onMain = true;
    // The first file's answer comes late, after the second began.
    if (id == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return AssetLine{"IMG_" + id + ".JPG", "1 MB"};
  };
  HomeModel home(bridge, root, sources);
  test.hub->began("slow");
  ASSERT_TRUE(serve([&] { return bridge.currentAsset() == "slow"; }));
  test.hub->began("quick");
  ASSERT_TRUE(serve([&] { return home.currentName() == "IMG_quick.JPG"; }));
  EXPECT_EQ(home.currentDetail(), "1 MB");
  QElapsedTimer waited;
  waited.start();
  serve([&] { return waited.elapsed() > 500; });
  EXPECT_EQ(home.currentName(), "IMG_quick.JPG");  // the slow answer came too late to show
  EXPECT_FALSE(onMain);
}

}  // namespace
}  // namespace lumenvale
