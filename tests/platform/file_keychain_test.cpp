#include "platform/file_keychain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "pairing/identity.h"
#include "platform/openssl_keys.h"
#include "support/program.h"

namespace lumenvale {
namespace {

using Item = Keychain::Item;

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

class FileKeychainTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder_{"keychain"};
  std::filesystem::path data_ = folder_.path();
};

TEST_F(FileKeychainTest, EachItemAddsOnceReadsBackAndRemoves) {
  // Binary content, a zero byte included, must come back byte for byte.
  const std::string content("\x30\x82\x00\x01-\xff", 6);
  for (Item item : {Item::deviceId, Item::privateKey, Item::certificate}) {
    SCOPED_TRACE(static_cast<int>(item));
    FileKeychain keychain(data_.string());
    std::string read = "untouched";
    EXPECT_EQ(keychain.copyMatching(item, read), Keychain::kItemNotFound);
    EXPECT_EQ(read, "untouched");
    EXPECT_EQ(keychain.remove(item), Keychain::kItemNotFound);

    ASSERT_EQ(keychain.add(item, content), Keychain::kSuccess);
    EXPECT_EQ(modeOf(data_ / "keychain"), 0700u);
    EXPECT_EQ(modeOf(keychain.path(item)), 0600u);
    EXPECT_EQ(keychain.add(item, "other"), Keychain::kDuplicateItem);

    // A later run sees what this one stored.
    FileKeychain again(data_.string());
    ASSERT_EQ(again.copyMatching(item, read), Keychain::kSuccess);
    EXPECT_EQ(read, content);

    EXPECT_EQ(again.remove(item), Keychain::kSuccess);
    EXPECT_EQ(again.copyMatching(item, read), Keychain::kItemNotFound);
    EXPECT_EQ(again.remove(item), Keychain::kItemNotFound);
  }
  // The three items never share a file.
  FileKeychain keychain(data_.string());
  EXPECT_NE(keychain.path(Item::deviceId), keychain.path(Item::privateKey));
  EXPECT_NE(keychain.path(Item::privateKey), keychain.path(Item::certificate));
  EXPECT_NE(keychain.path(Item::deviceId), keychain.path(Item::certificate));
}

TEST_F(FileKeychainTest, TightensAWideFolder) {
  std::filesystem::create_directories(data_ / "keychain");
  ASSERT_EQ(::chmod((data_ / "keychain").c_str(), 0755), 0);
  FileKeychain keychain(data_.string());
  ASSERT_EQ(keychain.add(Item::privateKey, "key"), Keychain::kSuccess);
  EXPECT_EQ(modeOf(data_ / "keychain"), 0700u);
}

TEST_F(FileKeychainTest, StorageFaultsAreNeitherSuccessNorNotFound) {
  FileKeychain keychain(data_.string());
  // A folder where the item's file should be: it exists but cannot be read.
  std::filesystem::create_directories(keychain.path(Item::certificate));
  std::string read;
  EXPECT_EQ(keychain.copyMatching(Item::certificate, read), Keychain::kIoError);
  EXPECT_EQ(keychain.add(Item::certificate, "der"), Keychain::kDuplicateItem);

  // A plain file where the data folder should be: nothing can be stored.
  std::filesystem::remove_all(data_);
  std::filesystem::create_directories(data_.parent_path());
  { std::ofstream(data_.string()) << "not a folder"; }
  EXPECT_EQ(keychain.add(Item::deviceId, "id"), Keychain::kIoError);
  EXPECT_EQ(keychain.copyMatching(Item::deviceId, read), Keychain::kIoError);
  std::filesystem::remove(data_);
}

TEST_F(FileKeychainTest, IdentitySurvivesARestartAndALostCertificate) {
  OpenSslKeys keys;
  const TimePoint now = std::chrono::system_clock::now();
  const auto start = [&] {
    FileKeychain keychain(data_.string());
    return Identity::loadOrCreate(keychain, keys, now);
  };
  const Identity first = start();
  const Identity second = start();
  EXPECT_EQ(second.deviceId(), first.deviceId());
  EXPECT_EQ(second.fingerprint(), first.fingerprint());
  EXPECT_EQ(second.privateKeyPem(), first.privateKeyPem());

  FileKeychain keychain(data_.string());
  ASSERT_EQ(keychain.remove(Item::certificate), Keychain::kSuccess);
  const Identity third = start();
  EXPECT_EQ(third.deviceId(), first.deviceId());
  EXPECT_NE(third.fingerprint(), first.fingerprint());
  EXPECT_NE(third.privateKeyPem(), first.privateKeyPem());
  std::string stored;
  ASSERT_EQ(keychain.copyMatching(Item::certificate, stored), Keychain::kSuccess);
  EXPECT_EQ(stored, third.certificate());
}

}  // namespace
}  // namespace lumenvale
