#include "platform/folder/library_watcher.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

namespace lumenvale {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Long enough for a slow machine to deliver what it must; a test only waits
// that long when it is failing.
constexpr auto kPatience = std::chrono::seconds(10);

// Short settle times so a test takes milliseconds, not seconds.
constexpr LibraryWatcher::Timing kQuick{milliseconds(50), milliseconds(1000)};

void writeFile(const fs::path& path, const std::string& content = "picture") {
  std::ofstream(path, std::ios::binary) << content;
}

// Counts the watcher's calls; the test thread waits for the next one.
class Calls {
 public:
  std::function<void()> callback() {
    return [this] {
      std::lock_guard<std::mutex> hold(mutex_);
      ++count_;
      arrived_.notify_all();
    };
  }

  int count() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return count_;
  }

  // waitFor says whether at least `count` calls came within kPatience.
  bool waitFor(int count) {
    std::unique_lock<std::mutex> hold(mutex_);
    return arrived_.wait_for(hold, kPatience, [&] { return count_ >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  int count_ = 0;  // guarded by mutex_
};

class LibraryWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "library_watcher_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    top_ = pattern;
    library_ = top_ / "Pictures";
    fs::create_directories(library_);
  }
  void TearDown() override { fs::remove_all(top_); }

  fs::path top_;      // holds the library and a folder beside it
  fs::path library_;  // the watched folder
};

TEST_F(LibraryWatcherTest, EachKindOfChangeLeadsToACall) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& library, const fs::path& outside)> before;  // the watcher starts
    std::function<void(const fs::path& library, const fs::path& outside)> change;
  };
  const auto nothing = [](const fs::path&, const fs::path&) {};
  const auto onePhoto = [](const fs::path& library, const fs::path&) { writeFile(library / "IMG_0001.JPG"); };
  const Case cases[] = {
      {"a photo written", nothing, onePhoto},
      {"a photo removed", onePhoto, [](const fs::path& library, const fs::path&) {
         fs::remove(library / "IMG_0001.JPG");
       }},
      {"a photo renamed", onePhoto, [](const fs::path& library, const fs::path&) {
         fs::rename(library / "IMG_0001.JPG", library / "IMG_0002.JPG");
       }},
      {"a photo moved in", [](const fs::path&, const fs::path& outside) { writeFile(outside / "IMG_0003.MOV"); },
       [](const fs::path& library, const fs::path& outside) {
         fs::rename(outside / "IMG_0003.MOV", library / "IMG_0003.MOV");
       }},
      {"a photo written under a new name and renamed", nothing,
       [](const fs::path& library, const fs::path&) {
         writeFile(library / ".IMG_0004.JPG.partial");
         fs::rename(library / ".IMG_0004.JPG.partial", library / "IMG_0004.JPG");
       }},
      {"a photo written in a sub-folder that was there",
       [](const fs::path& library, const fs::path&) { fs::create_directories(library / "2023" / "June"); },
       [](const fs::path& library, const fs::path&) { writeFile(library / "2023" / "June" / "IMG_0005.HEIC"); }},
      {"a sub-folder removed",
       [](const fs::path& library, const fs::path&) {
         fs::create_directories(library / "2023");
         writeFile(library / "2023" / "IMG_0006.JPG");
       },
       [](const fs::path& library, const fs::path&) { fs::remove_all(library / "2023"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(library_);
    fs::create_directories(library_);
    fs::path outside = top_ / "outside";
    fs::remove_all(outside);
    fs::create_directories(outside);
    c.before(library_, outside);

    Calls calls;
    LibraryWatcher watcher({library_.string()}, calls.callback(), kQuick);
    EXPECT_EQ(watcher.description(), "");
    c.change(library_, outside);
    EXPECT_TRUE(calls.waitFor(1));
  }
}

TEST_F(LibraryWatcherTest, WatchesASubFolderMadeAfterItStarted) {
  Calls calls;
  LibraryWatcher watcher({library_.string()}, calls.callback(), kQuick);
  fs::create_directories(library_ / "2024" / "May");
  ASSERT_TRUE(calls.waitFor(1));

  // Only a watch on the new folder can see this.
  writeFile(library_ / "2024" / "May" / "IMG_0001.JPG");
  EXPECT_TRUE(calls.waitFor(2));
}

TEST_F(LibraryWatcherTest, FollowsASubFolderRenamedInsideTheLibrary) {
  fs::create_directories(library_ / "Untitled");
  Calls calls;
  LibraryWatcher watcher({library_.string()}, calls.callback(), kQuick);
  fs::rename(library_ / "Untitled", library_ / "Holiday");
  ASSERT_TRUE(calls.waitFor(1));

  writeFile(library_ / "Holiday" / "IMG_0001.JPG");
  EXPECT_TRUE(calls.waitFor(2));
}

TEST_F(LibraryWatcherTest, ABurstOfFilesIsOneCallNotOnePerFile) {
  Calls calls;
  // A settle time well above the time 50 small writes take.
  LibraryWatcher watcher({library_.string()}, calls.callback(), {milliseconds(300), milliseconds(5000)});
  for (int i = 0; i < 50; ++i) writeFile(library_ / ("IMG_" + std::to_string(1000 + i) + ".JPG"));
  ASSERT_TRUE(calls.waitFor(1));

  // Events are read in order: once the marker has been answered, every
  // event of the burst has been too.
  const int afterBurst = calls.count();
  writeFile(library_ / "IMG_9999.JPG");
  ASSERT_TRUE(calls.waitFor(afterBurst + 1));
  EXPECT_LE(calls.count(), 3);
}

TEST_F(LibraryWatcherTest, WatchesFoldersMadeWhileEventsWereLost) {
  int queueLimit = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queueLimit;
  if (queueLimit > 100'000) GTEST_SKIP() << "the inotify queue holds " << queueLimit << " events";

  // The first call holds the watcher's thread, so nothing drains the queue
  // while the test overflows it.
  std::mutex mutex;
  std::condition_variable turn;
  bool entered = false;  // guarded by mutex
  bool release = false;  // guarded by mutex
  Calls calls;
  std::function<void()> count = calls.callback();
  LibraryWatcher watcher({library_.string()}, [&] {
    std::unique_lock<std::mutex> hold(mutex);
    entered = true;
    turn.notify_all();
    turn.wait_for(hold, kPatience, [&] { return release; });
    hold.unlock();
    count();
  }, kQuick);
  writeFile(library_ / "IMG_0001.JPG");
  {
    std::unique_lock<std::mutex> hold(mutex);
    ASSERT_TRUE(turn.wait_for(hold, kPatience, [&] { return entered; }));
  }
  // Each file is at least two events (created, closed after writing).
  for (int i = 0; i < queueLimit / 2 + 16; ++i) writeFile(library_ / ("IMG_" + std::to_string(100000 + i) + ".JPG"));
  // Made after the queue filled up: its creation is among the lost events.
  fs::create_directories(library_ / "Lost");
  {
    std::lock_guard<std::mutex> hold(mutex);
    release = true;
  }
  turn.notify_all();
  ASSERT_TRUE(calls.waitFor(2));

  writeFile(library_ / "Lost" / "IMG_0002.JPG");
  EXPECT_TRUE(calls.waitFor(3));
}

TEST_F(LibraryWatcherTest, StopsPromptlyWithABurstPending) {
  Calls calls;
  auto watcher = std::make_unique<LibraryWatcher>(std::vector<std::string>{library_.string()}, calls.callback(),
                                                  LibraryWatcher::Timing{std::chrono::minutes(1),
                                                                         std::chrono::minutes(10)});
  writeFile(library_ / "IMG_0001.JPG");
  std::future<void> stopped = std::async(std::launch::async, [&] { watcher.reset(); });
  EXPECT_EQ(stopped.wait_for(kPatience), std::future_status::ready);
}

TEST_F(LibraryWatcherTest, AFolderThatIsNotThereIsNotAnError) {
  Calls calls;
  LibraryWatcher watcher({(top_ / "missing").string(), library_.string()}, calls.callback(), kQuick);
  EXPECT_EQ(watcher.description(), "");
  writeFile(library_ / "IMG_0001.JPG");
  EXPECT_TRUE(calls.waitFor(1));
}

}  // namespace
}  // namespace lumenvale
