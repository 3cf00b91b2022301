#include "platform/folder/library_watcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

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

  // quiet waits until no call has come for a while and returns the count,
  // so the next call counted is one the next change caused.
  int quiet() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (int seen = -1; seen != count_;) {
      seen = count_;
      arrived_.wait_for(hold, milliseconds(200), [&] { return count_ != seen; });
    }
    return count_;
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
      {"a photo touched", onePhoto, [](const fs::path& library, const fs::path&) {
         ASSERT_EQ(utimensat(AT_FDCWD, (library / "IMG_0001.JPG").c_str(), nullptr, 0), 0) << std::strerror(errno);
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

// A way a library folder goes away and comes back. Steps get the folder
// that holds everything of the case, and throw when they cannot be done.
struct Absence {
  using Step = std::function<void(const fs::path& top)>;
  const char* name;
  const char* library;  // the watched folder, under top
  const char* inside;   // a sub-folder of the library once it is back
  Step before;          // the watcher starts
  Step away;            // none: the folder is not there from the start
  Step back;
};

// absentAndBack runs an absence and says what went wrong, or nothing. Each
// change must lead to a call, and a photo written in a sub-folder of what
// came back to one more: the folder is watched again, not only seen once.
std::string absentAndBack(const Absence& absence, const fs::path& top) {
  try {
    fs::create_directories(top);
    absence.before(top);
    Calls calls;
    LibraryWatcher watcher({(top / absence.library).string()}, calls.callback(), kQuick);
    if (!watcher.description().empty()) return "not watched: " + watcher.description();
    if (absence.away) {
      absence.away(top);
      if (!calls.waitFor(1)) return "no call once the folder went away";
    }
    const int whileAway = calls.quiet();
    absence.back(top);
    if (!calls.waitFor(whileAway + 1)) return "no call once the folder came back";
    const int onceBack = calls.quiet();
    writeFile(top / absence.library / absence.inside / "IMG_0001.JPG");
    if (!calls.waitFor(onceBack + 1)) return "no call for a photo written in the folder that came back";
    return "";
  } catch (const std::exception& failure) {
    return std::string("the case could not be played: ") + failure.what();
  }
}

TEST_F(LibraryWatcherTest, AFolderThatGoesAwayIsWatchedAgainWhenItComesBack) {
  const Absence absences[] = {
      {"renamed away and back", "Pictures", "2024",
       [](const fs::path& top) { fs::create_directories(top / "Pictures" / "2024"); },
       [](const fs::path& top) { fs::rename(top / "Pictures", top / "Elsewhere"); },
       [](const fs::path& top) { fs::rename(top / "Elsewhere", top / "Pictures"); }},
      {"renamed away and another folder renamed in its place", "Pictures", "2024",
       [](const fs::path& top) {
         fs::create_directories(top / "Pictures");
         fs::create_directories(top / "Imported" / "2024");
       },
       [](const fs::path& top) { fs::rename(top / "Pictures", top / "Elsewhere"); },
       [](const fs::path& top) { fs::rename(top / "Imported", top / "Pictures"); }},
      {"made after the watcher started", "Pictures", "2024", [](const fs::path&) {}, nullptr,
       [](const fs::path& top) { fs::create_directories(top / "Pictures" / "2024"); }},
      {"made with the folders above it", "Card/DCIM", "100CANON", [](const fs::path&) {}, nullptr,
       [](const fs::path& top) { fs::create_directories(top / "Card" / "DCIM" / "100CANON"); }},
      {"deleted and made again", "Pictures", "2024",
       [](const fs::path& top) {
         fs::create_directories(top / "Pictures" / "2024");
         writeFile(top / "Pictures" / "2024" / "IMG_0002.JPG");
       },
       [](const fs::path& top) { fs::remove_all(top / "Pictures"); },
       [](const fs::path& top) { fs::create_directories(top / "Pictures" / "2024"); }},
      {"a folder above it renamed away and back", "Card/DCIM", "100CANON",
       [](const fs::path& top) { fs::create_directories(top / "Card" / "DCIM" / "100CANON"); },
       [](const fs::path& top) { fs::rename(top / "Card", top / "Elsewhere"); },
       [](const fs::path& top) { fs::rename(top / "Elsewhere", top / "Card"); }},
  };
  int number = 0;
  for (const Absence& absence : absences) {
    SCOPED_TRACE(absence.name);
    EXPECT_EQ(absentAndBack(absence, top_ / std::to_string(++number)), "");
  }
}

// enterPrivateMounts moves the calling process into a mount namespace of
// its own, where it may mount a tmpfs that no one else sees and that goes
// with it. Needs root, or unprivileged user namespaces, and one thread.
bool enterPrivateMounts(std::string& why) {
  const auto failed = [&why](const char* what) {
    why = std::string(what) + ": " + std::strerror(errno);
    return false;
  };
  if (geteuid() == 0) {
    if (unshare(CLONE_NEWNS) != 0) return failed("unshare");
  } else {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return failed("unshare");
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
  }
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failed("private mounts");
  return true;
}

void mountDisk(const fs::path& folder) {
  fs::create_directories(folder);
  if (mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") != 0) {
    throw std::runtime_error("mount " + folder.string() + ": " + std::strerror(errno));
  }
}

void unmountDisk(const fs::path& folder) {
  if (umount2(folder.c_str(), 0) != 0) {
    throw std::runtime_error("unmount " + folder.string() + ": " + std::strerror(errno));
  }
}

constexpr char kNoPrivateMounts[] = "no private mounts: ";

// absentAndBackInPrivateMounts plays an absence in a child process that
// mounts in its own namespace, and says what absentAndBack said there.
std::string absentAndBackInPrivateMounts(const Absence& absence, const fs::path& top) {
  int result[2];
  if (pipe(result) != 0) return std::string("pipe: ") + std::strerror(errno);
  const pid_t child = fork();
  if (child < 0) return std::string("fork: ") + std::strerror(errno);
  if (child == 0) {
    close(result[0]);
    std::string why;
    const std::string said = enterPrivateMounts(why) ? absentAndBack(absence, top) : kNoPrivateMounts + why;
    const bool written = write(result[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
    _exit(written ? 0 : 1);  // nothing of the test's own may run twice
  }
  close(result[1]);
  std::string said;
  char buffer[512];
  for (ssize_t length; (length = read(result[0], buffer, sizeof buffer)) != 0;) {
    if (length < 0 && errno == EINTR) continue;
    if (length < 0) break;
    said.append(buffer, static_cast<std::size_t>(length));
  }
  close(result[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) said += " (the child ended with status " + std::to_string(status) + ")";
  return said;
}

TEST_F(LibraryWatcherTest, AFolderOnADiskIsWatchedAgainWhenTheDiskComesBack) {
  const Absence absences[] = {
      {"a disk unmounted from the library folder and mounted again", "Pictures", "2024",
       [](const fs::path& top) {
         mountDisk(top / "Pictures");
         fs::create_directories(top / "Pictures" / "2024");
       },
       [](const fs::path& top) { unmountDisk(top / "Pictures"); },
       [](const fs::path& top) {
         mountDisk(top / "Pictures");
         fs::create_directories(top / "Pictures" / "2024");
       }},
      {"a memory card holding the library folder unmounted and mounted again", "Card/DCIM", "100CANON",
       [](const fs::path& top) {
         mountDisk(top / "Card");
         fs::create_directories(top / "Card" / "DCIM" / "100CANON");
       },
       [](const fs::path& top) { unmountDisk(top / "Card"); },
       [](const fs::path& top) {
         mountDisk(top / "Card");
         fs::create_directories(top / "Card" / "DCIM" / "100CANON");
       }},
      {"a disk mounted over the library folder and unmounted", "Pictures", "2024",
       [](const fs::path& top) { fs::create_directories(top / "Pictures" / "2024"); },
       [](const fs::path& top) { mountDisk(top / "Pictures"); },
       [](const fs::path& top) { unmountDisk(top / "Pictures"); }},
      {"a disk unmounted from a sub-folder and mounted again", "Pictures", "Card/100CANON",
       [](const fs::path& top) {
         mountDisk(top / "Pictures" / "Card");
         fs::create_directories(top / "Pictures" / "Card" / "100CANON");
       },
       [](const fs::path& top) { unmountDisk(top / "Pictures" / "Card"); },
       [](const fs::path& top) {
         mountDisk(top / "Pictures" / "Card");
         fs::create_directories(top / "Pictures" / "Card" / "100CANON");
       }},
  };
  int number = 0;
  for (const Absence& absence : absences) {
    SCOPED_TRACE(absence.name);
    const std::string said = absentAndBackInPrivateMounts(absence, top_ / std::to_string(++number));
    if (said.starts_with(kNoPrivateMounts)) GTEST_SKIP() << said;
    EXPECT_EQ(said, "");
  }
}

}  // namespace
}  // namespace lumenvale
