// Tests of where the laptop puts what it copies, and of its record: month
// folders, names made safe, collisions with other resources and with the
// owner's own files, the record kept across runs, and the progress line.
#include "laptop/held_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

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
    held.files()["A/photo"] = {"2024/05/IMG_1 (2).JPG", "v1", std::string(64, 'a'), 20, true, Stamp{20, 5, 6, 7}};
    held.files()["A/video"] = {"2024/05/IMG_1.MOV", "v1", std::string(64, 'b'), 30, true, std::nullopt};
    held.freed().insert("Z");
    held.deviceId() = "device-1";
    held.save();
  }
  HeldFiles again(dest.path());
  EXPECT_EQ(again.deviceId(), "device-1");
  EXPECT_EQ(again.files().at("A/photo"), (HeldFile{"2024/05/IMG_1 (2).JPG", "v1", std::string(64, 'a'), 20, true, Stamp{20, 5, 6, 7}}));
  EXPECT_EQ(again.files().at("A/video").stamp, std::nullopt);
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

// What a record says is checked against the file before it is claimed:
// the stamp spares a read only while nothing about the file changed.
TEST(HeldFiles, ACheckTrustsOnlyBytesThatAreStillThere) {
  testing::TemporaryFolder dest("held-check");
  const std::string bytes(4096, 'p');
  const std::string path = dest.path() + "/IMG_1.JPG";
  struct Case {
    std::string what;
    std::function<void()> damage;
    CopyState byStamp;
    CopyState byHash;
  };
  const auto keepTime = [&](const std::function<void()>& change) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    change();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  const std::vector<Case> cases = {
      {"untouched", [] {}, CopyState::kIntact, CopyState::kIntact},
      {"the same bytes written again", [&] { std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes; },
       CopyState::kIntact, CopyState::kIntact},
      {"a byte flipped, its time put back",
       [&] {
         keepTime([&] {
           std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
           file.seekp(100);
           file.put('q');
         });
       },
       CopyState::kChanged, CopyState::kChanged},
      {"emptied", [&] { std::ofstream(path, std::ios::trunc); }, CopyState::kChanged, CopyState::kChanged},
      {"deleted", [&] { std::filesystem::remove(path); }, CopyState::kMissing, CopyState::kMissing},
      {"a link in its place",
       [&] {
         std::filesystem::rename(path, dest.path() + "/elsewhere.jpg");
         std::filesystem::create_symlink(dest.path() + "/elsewhere.jpg", path);
       },
       CopyState::kMissing, CopyState::kMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path);
    std::filesystem::remove(dest.path() + "/elsewhere.jpg");
    ASSERT_TRUE(AtomicFile::write(path, bytes, 0644));
    HeldFiles held(dest.path());
    held.files()["A/photo"] = {"IMG_1.JPG", "v1", hashFile(path).value(), 4096, true, stampOf(path)};
    c.damage();
    EXPECT_EQ(held.check("A/photo", HeldFiles::Look::kStamp), c.byStamp);
    EXPECT_EQ(held.check("A/photo", HeldFiles::Look::kHash), c.byHash);
    // A confirming read renews the stamp, so the next look is cheap.
    if (c.byHash == CopyState::kIntact) EXPECT_EQ(held.files()["A/photo"].stamp, stampOf(path));
  }
  // A record of old, without a stamp, is read before it is trusted.
  ASSERT_TRUE(AtomicFile::write(path, bytes, 0644));
  HeldFiles held(dest.path());
  held.files()["A/photo"] = {"IMG_1.JPG", "v1", std::string(64, '0'), 4096, true, std::nullopt};
  EXPECT_EQ(held.check("A/photo", HeldFiles::Look::kStamp), CopyState::kChanged);
}

TEST(HeldFiles, VersionsAreInstantsAndAsideNamesSayWhy) {
  EXPECT_TRUE(sameVersion("2024-05-01T14:03:59+02:00", "2024-05-01T12:03:59Z"));
  EXPECT_FALSE(sameVersion("2024-05-01T14:03:59+02:00", "2024-05-01T14:03:59Z"));
  EXPECT_TRUE(sameVersion("v1", "v1"));
  EXPECT_FALSE(sameVersion("v1", "v2"));
  std::set<std::string> taken = {"2024/05/IMG_1 (2024-05-01 earlier).MOV"};
  const auto isTaken = [&](const std::string& path) { return taken.count(path) != 0; };
  EXPECT_EQ(asideName("2024/05/IMG_1.MOV", "2024-05-01 earlier", isTaken), "2024/05/IMG_1 (2024-05-01 earlier 2).MOV");
  EXPECT_EQ(asideName("2024/05/IMG_2.MOV", "changed here", isTaken), "2024/05/IMG_2 (changed here).MOV");
  EXPECT_EQ(asideName("undated/noext", "changed here", isTaken), "undated/noext (changed here)");
}

TEST(PullProgress, FilesBytesSpeedAndTimeLeftInBytes) {
  const std::vector<std::pair<Progress, std::string>> cases = {
      {{0, 10, 0, 0, 0.1, false}, "0 of 10 files, 0 B"},
      {{5, 10, 50000000, 100000000, 10, false}, "5 of 10 files, 50 MB of about 100 MB, 5 MB/s, about 0:10 left"},
      {{10, 10, 100000000, 100000000, 20, false}, "10 of 10 files, 100 MB, 5 MB/s"},
      // Small files first and a large video last: the bytes tell.
      {{300, 313, 20000000, 150000000, 4, false}, "300 of 313 files, 20 MB of about 150 MB, 5 MB/s, about 0:26 left"},
      {{1, 2, 1000000, 10000000000, 1, false}, "1 of 2 files, 1 MB of about 10 GB, 1 MB/s, about 2:46:39 left"},
      {{0, 1, 0, 0, 0, false}, "0 of 1 file, 0 B"},
      {{5, 10, 50000000, 100000000, 10, true}, "[##########..........] 5 of 10 files, 50 MB of about 100 MB, 5 MB/s, about 0:10 left"},
  };
  for (const auto& [progress, line] : cases) EXPECT_EQ(progressLine(progress), line);
}

}  // namespace
}  // namespace lumenvale::laptop
