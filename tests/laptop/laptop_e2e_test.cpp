// The whole road with the real programs on 127.0.0.1: the laptop client
// pairs with the device, pulls its library, is killed in the middle of a
// large file and pulls again (fetching no byte twice), reports what it holds
// safe, and frees the space with a yes typed on the device's terminal.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <random>
#include <regex>

#include "e2e/device_fixture.h"
#include "support/command.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class LaptopClientTest : public DeviceTest {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);  // the laptop's pairing
    ::setenv("XDG_DATA_HOME", trashHome_.path().c_str(), 1);  // the device's Trash
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
  }

  // write puts `size` random bytes in the photo folder and remembers them.
  void write(const std::string& name, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
      const std::uint64_t value = random_();
      std::memcpy(bytes.data() + at, &value, 8);
    }
    fs::create_directories(fs::path(photos_.path() + "/" + name).parent_path());
    ASSERT_TRUE(AtomicFile::write(photos_.path() + "/" + name, bytes, 0644));
    total_ += static_cast<std::int64_t>(size);
    ++sources_[Bytes::hex(Crypto::sha256(bytes))];
  }

  testing::CommandResult laptop(const std::vector<std::string>& words) {
    std::vector<std::string> arguments = {LUMENVALE_LAPTOP_BINARY};
    arguments.insert(arguments.end(), words.begin(), words.end());
    return testing::runCommand(arguments, 120s);
  }

  // received reads the exact byte count of a pull's summary line.
  static std::int64_t received(const std::string& output) {
    std::smatch found;
    if (!std::regex_search(output, found, std::regex(R"(, ([0-9,]+) bytes received\))"))) return -1;
    std::string digits = found[1];
    std::erase(digits, ',');
    return std::stoll(digits);
  }

  // copied maps the SHA-256 of every file under DEST (its record aside) to
  // how many files have it.
  std::map<std::string, int> copied() const {
    std::map<std::string, int> hashes;
    for (const auto& entry : fs::recursive_directory_iterator(dest_.path())) {
      if (!entry.is_regular_file() || entry.path().string().find("/.lumenvale") != std::string::npos) continue;
      ++hashes[Bytes::hex(Crypto::sha256(AtomicFile::read(entry.path()).value()))];
    }
    return hashes;
  }

  static std::int64_t sizeOf(const fs::path& folder, const std::string& extension, bool wanted) {
    std::int64_t sum = 0;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
      if (!entry.is_regular_file(error)) continue;
      const std::string path = entry.path().string();
      if (path.find("/.lumenvale/") != std::string::npos && !wanted) continue;
      if (wanted && !path.ends_with(extension)) continue;
      sum += static_cast<std::int64_t>(entry.file_size(error));
    }
    return sum;
  }

  TemporaryFolder config_{"e2e-laptop-config"};
  TemporaryFolder trashHome_{"e2e-laptop-trash"};
  TemporaryFolder dest_{"e2e-laptop-dest"};
  std::mt19937_64 random_{17};
  std::int64_t total_ = 0;
  std::map<std::string, int> sources_;
};

TEST_F(LaptopClientTest, PullsResumesReportsSafeAndFrees) {
  ASSERT_NO_FATAL_FAILURE(write("2024/IMG_0001.MOV", 300 << 20));
  for (int i = 0; i < 12; ++i) ASSERT_NO_FATAL_FAILURE(write("2024/IMG_1" + std::to_string(100 + i) + ".JPG", 150000 + i));
  ASSERT_NO_FATAL_FAILURE(write("2024/IMG_2000.HEIC", 90000));
  ASSERT_NO_FATAL_FAILURE(write("2024/IMG_2000.MOV", 400000));
  ASSERT_NO_FATAL_FAILURE(write("other/IMG_1100.JPG", 70000));  // the same name, another photo
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "15 photos and videos");

  const testing::CommandResult paired = laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_});
  ASSERT_EQ(paired.status, 0) << paired.output;
  EXPECT_NE(paired.output.find("Fingerprint: " + fingerprint_), std::string::npos) << paired.output;
  EXPECT_NE(paired.output.find("Paired with E2E Phone."), std::string::npos) << paired.output;
  // A wrong code is refused with the device's words.
  code_ = program_->lineStartingWith("Pairing code: ").value_or("");
  const testing::CommandResult wrong = laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", "AAAA-AAAA"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.output.find("That code is not the one on the phone."), std::string::npos) << wrong.output;

  // Killed while the large file is half-way.
  {
    testing::Program pulling({LUMENVALE_LAPTOP_BINARY, "pull", dest_.path(), "--parallel", "1"});
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (sizeOf(dest_.path() + "/.lumenvale/partial", ".part", true) < (60 << 20)) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the large file never started";
      ::usleep(2000);
    }
    pulling.stop(SIGKILL);
  }
  const std::int64_t partial = sizeOf(dest_.path() + "/.lumenvale/partial", ".part", true);
  const std::int64_t complete = sizeOf(dest_.path(), "", false);
  ASSERT_GT(partial, 0);
  ASSERT_LT(partial + complete, total_);

  const testing::CommandResult again = laptop({"pull", dest_.path()});
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(received(again.output), total_ - complete - partial) << again.output;
  EXPECT_EQ(copied(), sources_);
  const testing::CommandResult third = laptop({"pull", dest_.path()});
  ASSERT_EQ(third.status, 0) << third.output;
  EXPECT_EQ(received(third.output), 0) << third.output;
  EXPECT_NE(third.output.find("16 were held already"), std::string::npos) << third.output;  // 16 files of 15 assets
  EXPECT_FALSE(fs::exists(dest_.path() + "/.lumenvale/partial") &&
               !fs::is_empty(dest_.path() + "/.lumenvale/partial"));

  const testing::CommandResult safe = laptop({"safe", dest_.path()});
  ASSERT_EQ(safe.status, 0) << safe.output;
  const nlohmann::json marks = nlohmann::json::parse(AtomicFile::read(data_.path() + "/safe.json").value_or("{}"));
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks.begin()->size(), 15u);

  // Deleting is off until the owner turns it on; then the owner says yes.
  const testing::CommandResult off = laptop({"free", dest_.path()});
  EXPECT_EQ(off.status, 1);
  EXPECT_NE(off.output.find("Deleting is turned off"), std::string::npos) << off.output;
  ASSERT_EQ(testing::runCommand({LUMENVALE_BINARY, "--data", data_.path(), "settings", "set", "allowDelete", "true"}, 20s).status, 0);
  testing::Program freeing({LUMENVALE_LAPTOP_BINARY, "free", dest_.path()});
  const std::optional<std::string> question = program_->prompted("[y/N] ", 30s);
  ASSERT_TRUE(question);
  // 14 photos (one of them a Live Photo) and a video, of about 317 MB.
  EXPECT_TRUE(std::regex_search(*question, std::regex(R"( has copied 14 photos and 1 video \(31\d MB, taken on )")))
      << *question;
  program_->writeLine("y");
  EXPECT_TRUE(freeing.lineStartingWith("E2E Phone deleted 15 photos and videos.", 30s));
  EXPECT_EQ(freeing.stop(0, 10s), 0);  // signal 0: only waits for it to end

  // On the device: everything in the Trash, nothing left to list.
  EXPECT_EQ(sizeOf(trashHome_.path() + "/Trash/files", "", false), total_);
  const nlohmann::json device = nlohmann::json::parse(AtomicFile::read(config_.path() + "/lumenvale-laptop/device.json").value());
  auto client = connect();
  ASSERT_TRUE(client);
  const HttpResponse listed =
      ask(*client, "GET", "/v1/assets", "Authorization: Bearer " + device["token"].get<std::string>() + "\r\n");
  EXPECT_EQ(json(listed)["assets"].size(), 0u) << listed.body;
  // The laptop keeps every copy.
  EXPECT_EQ(copied(), sources_);
}

TEST_F(LaptopClientTest, OnlyThePairedCertificateIsTrusted) {
  ASSERT_NO_FATAL_FAILURE(write("IMG_0001.JPG", 1000));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_}).status, 0);
  // As if another machine answered at the device's address.
  const std::string file = config_.path() + "/lumenvale-laptop/device.json";
  nlohmann::json device = nlohmann::json::parse(AtomicFile::read(file).value());
  device["fingerprint"] = std::string(64, '0');
  ASSERT_TRUE(AtomicFile::write(file, device.dump()));
  const testing::CommandResult refused = laptop({"pull", dest_.path()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("shows another certificate"), std::string::npos) << refused.output;
  EXPECT_FALSE(fs::exists(dest_.path() + "/.lumenvale/partial"));
  EXPECT_EQ(copied().size(), 0u);
}

}  // namespace
}  // namespace lumenvale
