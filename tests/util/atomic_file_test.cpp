#include "util/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/program.h"

namespace lumenvale {
namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  lumenvale::testing::TemporaryFolder temporary_{"atomic"};
  std::filesystem::path folder_ = temporary_.path();
};

TEST_F(AtomicFileTest, WritesReplacesAndKeepsTheMode) {
  ASSERT_TRUE(AtomicFile::makeDirectories((folder_ / "a" / "b").string(), 0700));
  const std::string path = (folder_ / "a" / "b" / "store.json").string();
  EXPECT_EQ(AtomicFile::read(path), std::nullopt);
  ASSERT_TRUE(AtomicFile::write(path, "first"));
  ASSERT_TRUE(AtomicFile::write(path, "second", 0600));
  EXPECT_EQ(AtomicFile::read(path), "second");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((folder_ / "a").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // Nothing but the file itself is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_ / "a" / "b"), {}), 1);
}

TEST_F(AtomicFileTest, FailureLeavesTheOldContent) {
  ASSERT_TRUE(AtomicFile::makeDirectories(folder_.string()));
  const std::string path = (folder_ / "store.json").string();
  ASSERT_TRUE(AtomicFile::write(path, "kept"));
  // A folder where the file would go cannot be replaced by a file.
  const std::string blocked = (folder_ / "folder").string();
  ASSERT_TRUE(AtomicFile::makeDirectories(blocked + "/inside"));
  EXPECT_FALSE(AtomicFile::write(blocked, "new"));
  EXPECT_FALSE(AtomicFile::write((folder_ / "missing" / "x").string(), "new"));
  EXPECT_EQ(AtomicFile::read(path), "kept");
  EXPECT_EQ(AtomicFile::read(blocked), std::nullopt);
}

}  // namespace
}  // namespace lumenvale
