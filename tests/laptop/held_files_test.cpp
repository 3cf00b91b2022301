// Tests of where the laptop puts what it copies, and of its record: month
// folders, names made safe, collisions with other resources and with the
// owner's own files, the record kept across runs, and the progress line.
#include "laptop/held_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "laptop/puller.h"
#include "support/program.h"
#include "util/atomic_file.h"

namespace lumenvale::laptop {
namespace {

TEST(Naming, MonthFoldersAndSafeNames) {
  for (const auto& [created, folder] : std::vector<std::pair<std::string, std::string>>{
           {"2024-05-17T10:00:00+02:00", "2024/05"},
           {"1999-12-31T23:59:59Z", "1999/12"},
           {"2024-13-01T00:00:00Z", "undated"},
           {"2024-00-01T00:00:00Z", "undated"},
           {"24-05-17", "undated"},
           {"", "undated"},
           {"../../etc", "undated"}}) {
    EXPECT_EQ(Naming::monthFolder(created), folder) << created;
  }
  for (const auto& [name, safe] : std::vector<std::pair<std::string, std::string>>{
           {"IMG_0001.JPG", "IMG_0001.JPG"},
           {"../../.ssh/authorized_keys", "authorized_keys"},
           {"..", "file"},
           {".", "file"},
           {"", "file"},
           {".hidden.jpg", "hidden.jpg"},
           {"a\\b\\c.jpg", "c.jpg"},
           {"tab\there\n.jpg", "tabhere.jpg"},
           {"Été à Paris.heic", "Été à Paris.heic"},
           {std::string(199, 'a') + "é.jpg", std::string(199, 'a')}}) {
    EXPECT_EQ(Naming::safeName(name), safe) << name;
  }
  std::set<std::string> taken = {"2024/05/IMG_1.JPG", "2024/05/IMG_1 (2).JPG", "2024/05/noext"};
  const auto isTaken = [&](const std::string& path) { return taken.count(path) != 0; };
  EXPECT_EQ(Naming::place("2024/05", "IMG_1.JPG", isTaken), "2024/05/IMG_1 (3).JPG");
  EXPECT_EQ(Naming::place("2024/05", "noext", isTaken), "2024/05/noext (2)");
  EXPECT_EQ(Naming::place("2024/05", "IMG_2.JPG", isTaken), "2024/05/IMG_2.JPG");
}

TEST(HeldFiles, PlacesAreGivenOnceAndKeptAcrossRuns) {
  testing::TemporaryFolder dest("held");
  std::filesystem::create_directories(dest.path() + "/2024/05");
  ASSERT_TRUE(AtomicFile::write(dest.path() + "/2024/05/IMG_1.JPG", "the owner's own file", 0644));
  {
    HeldFiles held(dest.path());
    // The owner's file is not ours: the first resource goes beside it.
    EXPECT_EQ(held.assign("A/photo", "2024-05-01T00:00:00Z", "IMG_1.JPG"), "2024/05/IMG_1 (2).JPG");
    EXPECT_EQ(held.assign("B/photo", "2024-05-02T00:00:00Z", "IMG_1.JPG"), "2024/05/IMG_1 (3).JPG");
    EXPECT_EQ(held.assign("A/photo", "2024-05-01T00:00:00Z", "IMG_1.JPG"), "2024/05/IMG_1 (2).JPG");
    EXPECT_EQ(held.assign("A/video", "2024-05-01T00:00:00Z", "IMG_1.MOV"), "2024/05/IMG_1.MOV");
    held.files()["A/photo"] = {"2024/05/IMG_1 (2).JPG", "v1", std::string(64, 'a'), 20, true};
    held.freed().insert("Z");
    held.deviceId() = "device-1";
    held.save();
  }
  HeldFiles again(dest.path());
  EXPECT_EQ(again.deviceId(), "device-1");
  EXPECT_EQ(again.files().at("A/photo"), (HeldFile{"2024/05/IMG_1 (2).JPG", "v1", std::string(64, 'a'), 20, true}));
  EXPECT_EQ(again.freed(), std::set<std::string>{"Z"});
  // A new resource never takes a place given out before, even one whose
  // file is not there yet.
  EXPECT_EQ(again.assign("C/photo", "2024-05-03T00:00:00Z", "IMG_1.JPG"), "2024/05/IMG_1 (4).JPG");
  EXPECT_NE(again.partialPath("A/photo"), again.partialPath("A/video"));
  EXPECT_TRUE(again.partialPath("A/photo").starts_with(dest.path() + "/.lumenvale/partial/"));

  ASSERT_TRUE(AtomicFile::write(dest.path() + "/.lumenvale/held.json", "{\"files\": 3}"));
  EXPECT_THROW(HeldFiles broken(dest.path()), std::runtime_error);
}

// A record that save() could not have written is refused as a whole, with
// the message that says what to do, rather than read in part or guessed at.
TEST(HeldFiles, RefusesARecordSaveCouldNotHaveWritten) {
  const std::string file = R"("path": "2024/05/IMG_1.JPG", "modified": "v1", "sha256": "aa", "verified": true)";
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"files not an object", R"({"files": 3})"},
      {"a size past any 64-bit count", R"({"files": {"A/photo": {)" + file + R"(, "size": 1e300}}})"},
      {"a size with a fraction", R"({"files": {"A/photo": {)" + file + R"(, "size": 20.5}}})"},
      {"a size as text", R"({"files": {"A/photo": {)" + file + R"(, "size": "20"}}})"},
  };
  for (const auto& [name, text] : broken) {
    SCOPED_TRACE(name);
    testing::TemporaryFolder dest("held-broken");
    ASSERT_TRUE(AtomicFile::makeDirectories(dest.path() + "/.lumenvale"));
    ASSERT_TRUE(AtomicFile::write(dest.path() + "/.lumenvale/held.json", text));
    EXPECT_THROW(HeldFiles held(dest.path()), std::runtime_error);
  }
}

TEST(PullProgress, FilesBytesSpeedAndTimeLeft) {
  EXPECT_EQ(progressLine(0, 10, 0, 0.1), "0 of 10 files, 0 B");
  EXPECT_EQ(progressLine(5, 10, 50000000, 10), "5 of 10 files, 50 MB, 5 MB/s, about 0:10 left");
  EXPECT_EQ(progressLine(10, 10, 100000000, 20), "10 of 10 files, 100 MB, 5 MB/s");
  EXPECT_EQ(progressLine(1, 1000, 1000, 2), "1 of 1,000 files, 1 KB, 500 B/s, about 33:18 left");
}

}  // namespace
}  // namespace lumenvale::laptop
