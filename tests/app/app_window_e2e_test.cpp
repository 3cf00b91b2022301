// The app window as the owner uses it, offscreen, on 127.0.0.1 with the
// real laptop client: the laptop pairs with the code the app shows, pulls,
// reports what it holds, and asks to free the space; the owner answers on
// the delete sheet by pressing its buttons, and the laptop gets the answer.
#include "app/app_window.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QQuickItem>
#include <QTest>
#include <filesystem>
#include <future>

#include "support/command.h"
#include "support/qt_events.h"
#include "util/atomic_file.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using testing::application;

bool pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  return testing::runEventsUntil(done, limit);
}

class AppWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    application();
    ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);  // the laptop's pairing
    ::setenv("XDG_DATA_HOME", trash_.path().c_str(), 1);     // the device's Trash
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(AtomicFile::write(photos_.path() + "/IMG_000" + std::to_string(i) + ".JPG",
                                    std::string(20000 + i, static_cast<char>('a' + i)), 0644));
    }
    // The owner has been through the welcome, and lets laptops ask.
    Settings settings(data_.path() + "/settings.json");
    ASSERT_TRUE(settings.set("welcomed", true));
    ASSERT_TRUE(settings.set("allowDelete", true));

    Options options;
    options.data = data_.path();
    options.libraries = {photos_.path()};
    options.listen = "127.0.0.1";
    options.name = "E2E Phone";
    app_ = std::make_unique<AppWindow>(options);
    ASSERT_TRUE(pump([&] { return app_->hub().state().port != 0 && app_->hub().state().code; }));
    // A page read while the first index runs may fail: it is read again.
    ASSERT_TRUE(pump([&] {
      try {
        return app_->hub().library().page(std::nullopt, 10).assets.size() == 3;
      } catch (const std::exception&) {
        return false;
      }
    }));
    EXPECT_EQ(app_->root().screen(), "frame");
  }
  void TearDown() override {
    app_.reset();
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
  }

  // laptop runs the laptop client while the app's event loop keeps going.
  testing::CommandResult laptop(const std::vector<std::string>& words, const std::function<void()>& meanwhile = {}) {
    std::vector<std::string> arguments = {LUMENVALE_LAPTOP_BINARY};
    arguments.insert(arguments.end(), words.begin(), words.end());
    std::future<testing::CommandResult> run =
        std::async(std::launch::async, [arguments] { return testing::runCommand(arguments, 120s); });
    if (meanwhile) meanwhile();
    pump([&] { return run.wait_for(0s) == std::future_status::ready; }, 120s);
    return run.get();
  }

  void pairPullAndReport() {
    const std::string address = "127.0.0.1:" + std::to_string(app_->hub().state().port);
    const testing::CommandResult paired = laptop({"pair", address, "--code", app_->hub().state().code->display()});
    ASSERT_EQ(paired.status, 0) << paired.output;
    const testing::CommandResult pulled = laptop({"pull", dest_.path()});
    ASSERT_EQ(pulled.status, 0) << pulled.output;
    const testing::CommandResult safe = laptop({"safe", dest_.path()});
    ASSERT_EQ(safe.status, 0) << safe.output;
  }

  // press clicks the delete sheet's button named `name` once the sheet is
  // on screen, as the owner's finger would.
  void press(const char* name) {
    QQuickWindow& window = app_->window();
    QQuickItem* sheet = nullptr;
    QQuickItem* button = nullptr;
    ASSERT_TRUE(pump([&] {
      sheet = window.findChild<QQuickItem*>("deleteSheet");
      button = sheet ? sheet->findChild<QQuickItem*>(name) : nullptr;
      return sheet && sheet->isVisible() && button && button->height() > 0;
    }));
    // Once the library is read, the sheet names what is asked: three photos.
    QQuickItem* title = sheet->findChild<QQuickItem*>("title");
    EXPECT_TRUE(pump([&] { return title->property("text").toString() == "Delete 3 photos from this device?"; }))
        << title->property("text").toString().toStdString();
    const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
  }

  std::size_t inTrash() const {
    const fs::path files = fs::path(trash_.path()) / "Trash" / "files";
    if (!fs::exists(files)) return 0;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(files), fs::directory_iterator()));
  }

  testing::TemporaryFolder data_{"app-data"};
  testing::TemporaryFolder photos_{"app-photos"};
  testing::TemporaryFolder config_{"app-laptop"};
  testing::TemporaryFolder trash_{"app-trash"};
  testing::TemporaryFolder dest_{"app-dest"};
  std::unique_ptr<AppWindow> app_;
};

TEST_F(AppWindowTest, AYesOnTheSheetDeletesAndTheLaptopIsTold) {
  ASSERT_NO_FATAL_FAILURE(pairPullAndReport());
  const testing::CommandResult freed = laptop({"free", dest_.path()}, [&] { press("confirm"); });
  EXPECT_EQ(freed.status, 0) << freed.output;
  EXPECT_NE(freed.output.find("E2E Phone deleted 3 photos and videos."), std::string::npos) << freed.output;
  EXPECT_EQ(inTrash(), 3u);
  EXPECT_FALSE(app_->hub().state().deleteAsk);
}

TEST_F(AppWindowTest, KeepOnTheSheetKeepsEverythingAndTheLaptopIsTold) {
  ASSERT_NO_FATAL_FAILURE(pairPullAndReport());
  const testing::CommandResult kept = laptop({"free", dest_.path()}, [&] { press("keep"); });
  EXPECT_EQ(kept.status, 1) << kept.output;
  EXPECT_EQ(kept.output.find("deleted 3"), std::string::npos) << kept.output;
  EXPECT_EQ(inTrash(), 0u);
  EXPECT_EQ(app_->hub().library().page(std::nullopt, 10).assets.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(fs::exists(photos_.path() + "/IMG_000" + std::to_string(i) + ".JPG"));
}

}  // namespace
}  // namespace lumenvale
