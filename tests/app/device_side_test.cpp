// The device side's photo folders: none chosen means not asked (and the
// catalog is left alone), a chosen folder is served and kept for the next
// start, "choose more" adds one, one can be removed but never the last, and
// --library folders are not written.
#include "app/device_side.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "hub/run_loop.h"
#include "support/program.h"
#include "util/atomic_file.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

// listed waits up to 10 s for the library to list `count` assets. A page
// read while an index removes assets may fail; it is read again.
bool listed(DeviceSide& device, std::size_t count) {
  for (int i = 0; i < 500; ++i) {
    try {
      if (device.hub().library().page(std::nullopt, 100).assets.size() == count) return true;
    } catch (const std::exception&) {
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

class DeviceSideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(AtomicFile::write(first_.path() + "/IMG_0001.JPG", "one", 0644));
    ASSERT_TRUE(AtomicFile::write(second_.path() + "/IMG_0002.JPG", "two", 0644));
    options_.data = data_.path();
    options_.listen = "127.0.0.1";
  }
  testing::TemporaryFolder data_{"device-data"};
  testing::TemporaryFolder first_{"device-first"};
  testing::TemporaryFolder second_{"device-second"};
  Options options_;
  RunLoop main_;
};

TEST_F(DeviceSideTest, ChosenFoldersAreServedAndKept) {
  {
    DeviceSide device(options_, main_, [](const std::string&) {}, false);
    EXPECT_EQ(device.library().photoAccess(), LibraryAccess::notAsked);
    EXPECT_TRUE(device.library().folders().empty());

    ASSERT_TRUE(device.choose(first_.path(), false));
    EXPECT_EQ(device.library().photoAccess(), LibraryAccess::full);
    EXPECT_TRUE(listed(device, 1));
    ASSERT_TRUE(device.choose(second_.path(), true));
    EXPECT_TRUE(listed(device, 2));
    ASSERT_TRUE(device.choose(second_.path(), true));  // twice is once
    EXPECT_EQ(device.library().folders(), (std::vector<std::string>{first_.path(), second_.path()}));
  }
  // The next start serves the same folders.
  DeviceSide again(options_, main_, [](const std::string&) {}, false);
  EXPECT_EQ(again.library().folders(), (std::vector<std::string>{first_.path(), second_.path()}));
  EXPECT_TRUE(listed(again, 2));

  // Choosing anew replaces them; a folder that cannot be read is denied.
  ASSERT_TRUE(again.choose(second_.path(), false));
  EXPECT_TRUE(listed(again, 1));
  ASSERT_EQ(::chmod(second_.path().c_str(), 0), 0);
  if (::access(second_.path().c_str(), R_OK) != 0) {  // root reads anything
    EXPECT_EQ(again.library().photoAccess(), LibraryAccess::denied);
  }
  ASSERT_EQ(::chmod(second_.path().c_str(), 0700), 0);
}

TEST_F(DeviceSideTest, AFolderCanBeRemovedButNotTheLastOne) {
  {
    DeviceSide device(options_, main_, [](const std::string&) {}, false);
    ASSERT_TRUE(device.choose(first_.path(), false));
    ASSERT_TRUE(device.choose(second_.path(), true));
    EXPECT_TRUE(listed(device, 2));
    EXPECT_FALSE(device.remove(data_.path()));  // not served
    ASSERT_TRUE(device.remove(first_.path()));
    EXPECT_EQ(device.library().folders(), (std::vector<std::string>{second_.path()}));
    EXPECT_TRUE(listed(device, 1));
    EXPECT_FALSE(device.remove(second_.path()));  // the last one stays
    EXPECT_EQ(device.library().folders(), (std::vector<std::string>{second_.path()}));
    EXPECT_EQ(device.library().photoAccess(), LibraryAccess::full);
  }
  DeviceSide again(options_, main_, [](const std::string&) {}, false);
  EXPECT_EQ(again.library().folders(), (std::vector<std::string>{second_.path()}));
}

TEST_F(DeviceSideTest, FoldersFromTheCommandLineAreNotTheOwnersChoice) {
  options_.libraries = {first_.path()};
  DeviceSide device(options_, main_, [](const std::string&) {}, false);
  EXPECT_TRUE(listed(device, 1));
  ASSERT_TRUE(device.choose(second_.path(), true));
  EXPECT_TRUE(listed(device, 2));
  EXPECT_FALSE(device.settings().get("libraryFolders"));
  // With neither, the terminal serves the pictures folder; the app waits.
  Options none;
  none.data = data_.path();
  EXPECT_TRUE(DeviceSide::folders(none, device.settings(), false).empty());
  EXPECT_EQ(DeviceSide::folders(none, device.settings(), true).size(), 1u);
}

}  // namespace
}  // namespace lumenvale
