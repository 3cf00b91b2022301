// The whole road with the real programs on 127.0.0.1: the laptop client
// pairs with the device, pulls its library, is killed in the middle of a
// large file and pulls again (fetching no byte twice), reports what it holds
// safe, and frees the space with a yes typed on the device's terminal. And
// what the laptop may claim: never a copy that is damaged or gone, never
// from a folder that is not its copy; what it never does to a copy.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e/device_fixture.h"
#include "support/command.h"
#include "support/private_mount.h"
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

  // pairAndPull pairs the laptop and pulls the whole library into DEST.
  void pairAndPull() {
    const testing::CommandResult paired = laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_});
    ASSERT_EQ(paired.status, 0) << paired.output;
    code_ = program_->lineStartingWith("Pairing code: ").value_or("");
    const testing::CommandResult pulled = laptop({"pull", dest_.path()});
    ASSERT_EQ(pulled.status, 0) << pulled.output;
  }

  // pairedDevice is what the laptop keeps of the (first) device it paired with.
  nlohmann::json pairedDevice() const {
    const nlohmann::json kept =
        nlohmann::json::parse(AtomicFile::read(config_.path() + "/lumenvale-laptop/devices.json").value_or("{}"), nullptr, false);
    return kept.is_object() && kept.contains("devices") && !kept["devices"].empty() ? kept["devices"][0] : nlohmann::json::object();
  }

  // assets is the device's listing as the paired laptop reads it.
  nlohmann::json assets() {
    const nlohmann::json device = pairedDevice();
    auto client = connect();
    if (!client) return nlohmann::json::array();
    const HttpResponse listed =
        ask(*client, "GET", "/v1/assets?limit=500", "Authorization: Bearer " + device.value("token", "") + "\r\n");
    return json(listed).value("assets", nlohmann::json::array());
  }

  // marks is how many assets the device has marked safe for the laptop.
  std::size_t marks() const {
    const nlohmann::json marks = nlohmann::json::parse(AtomicFile::read(data_.path() + "/safe.json").value_or("{}"), nullptr, false);
    return marks.is_object() && !marks.empty() ? marks.begin()->size() : 0;
  }

  // lastJson reads the last line of a command's output as JSON: what a
  // script reads on standard output (the output here holds both streams).
  static nlohmann::json lastJson(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    std::string last;
    while (std::getline(lines, line)) {
      if (!line.empty()) last = line;
    }
    return nlohmann::json::parse(last, nullptr, false);
  }

  // path is where DEST holds the copy of photo `name`.
  std::string copyOf(const std::string& name) const {
    for (const auto& entry : fs::recursive_directory_iterator(dest_.path())) {
      if (entry.path().filename() == name) return entry.path();
    }
    return "";
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

  static std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
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
  const nlohmann::json device = pairedDevice();
  auto client = connect();
  ASSERT_TRUE(client);
  const HttpResponse listed =
      ask(*client, "GET", "/v1/assets", "Authorization: Bearer " + device.value("token", "") + "\r\n");
  EXPECT_EQ(json(listed)["assets"].size(), 0u) << listed.body;
  // The laptop keeps every copy.
  EXPECT_EQ(copied(), sources_);
}

TEST_F(LaptopClientTest, OnlyThePairedCertificateIsTrusted) {
  ASSERT_NO_FATAL_FAILURE(write("IMG_0001.JPG", 1000));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_}).status, 0);
  // As if another machine answered at the device's address.
  const std::string file = config_.path() + "/lumenvale-laptop/devices.json";
  nlohmann::json devices = nlohmann::json::parse(AtomicFile::read(file).value());
  devices["devices"][0]["fingerprint"] = std::string(64, '0');
  ASSERT_TRUE(AtomicFile::write(file, devices.dump()));
  const testing::CommandResult refused = laptop({"pull", dest_.path()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("shows another certificate"), std::string::npos) << refused.output;
  EXPECT_FALSE(fs::exists(dest_.path() + "/.lumenvale/partial"));
  EXPECT_EQ(copied().size(), 0u);
}

// A copy that is damaged or gone is never named to the device, by `safe` or
// by `free`; `pull` fetches it again and keeps what it found aside.
TEST_F(LaptopClientTest, OnlyCopiesThatAreThereAndWholeAreClaimed) {
  const std::vector<std::string> names = {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG", "IMG_0004.JPG",
                                          "IMG_0005.JPG", "IMG_0006.JPG", "IMG_0007.JPG"};
  for (std::size_t i = 0; i < names.size(); ++i) ASSERT_NO_FATAL_FAILURE(write("2024/" + names[i], 20000 + i));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "7 photos and videos");
  ASSERT_NO_FATAL_FAILURE(pairAndPull());

  struct Damage {
    std::string what;
    std::string name;
    std::function<void(const std::string&)> done;
    std::string said;
  };
  const std::vector<Damage> damages = {
      {"bytes flipped, size and time kept", "IMG_0001.JPG",
       [](const std::string& path) {
         struct stat before {};
         ASSERT_EQ(::stat(path.c_str(), &before), 0);
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(1000);
         file.write("\xff\xfe\xfd", 3);
         file.close();
         const timespec times[2] = {before.st_atim, before.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       },
       "its bytes changed here"},
      {"deleted", "IMG_0002.JPG", [](const std::string& path) { fs::remove(path); }, "it is no longer in"},
      {"emptied", "IMG_0003.JPG", [](const std::string& path) { std::ofstream(path, std::ios::trunc); }, "its bytes changed here"},
      {"another photo over it", "IMG_0004.JPG",
       [this](const std::string& path) { fs::copy_file(copyOf("IMG_0007.JPG"), path, fs::copy_options::overwrite_existing); },
       "its bytes changed here"},
      {"moved into a sub-folder", "IMG_0005.JPG",
       [](const std::string& path) {
         fs::create_directories(fs::path(path).parent_path() / "sorted");
         fs::rename(path, fs::path(path).parent_path() / "sorted" / fs::path(path).filename());
       },
       "it is no longer in"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    const std::string path = copyOf(damage.name);
    ASSERT_FALSE(path.empty());
    ASSERT_NO_FATAL_FAILURE(damage.done(path));
  }

  // Only the two untouched copies are offered, and each damaged one is
  // named with why.
  const testing::CommandResult dry = laptop({"free", dest_.path(), "--dry-run"});
  ASSERT_EQ(dry.status, 0) << dry.output;
  EXPECT_NE(dry.output.find("delete 2 photos and videos"), std::string::npos) << dry.output;
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    EXPECT_TRUE(std::regex_search(dry.output, std::regex("left out: [^\n]*" + damage.name + ": " + damage.said))) << dry.output;
  }
  const testing::CommandResult safe = laptop({"safe", dest_.path()});
  ASSERT_EQ(safe.status, 0) << safe.output;
  EXPECT_NE(safe.output.find("holds 2 photos and videos safely"), std::string::npos) << safe.output;
  EXPECT_EQ(marks(), 2u);

  // With the owner's yes, only those two go.
  ASSERT_EQ(testing::runCommand({LUMENVALE_BINARY, "--data", data_.path(), "settings", "set", "allowDelete", "true"}, 20s).status, 0);
  testing::Program freeing({LUMENVALE_LAPTOP_BINARY, "free", dest_.path()});
  ASSERT_TRUE(program_->prompted("[y/N] ", 30s));
  program_->writeLine("y");
  EXPECT_TRUE(freeing.lineStartingWith("E2E Phone deleted 2 photos and videos.", 30s));
  EXPECT_EQ(freeing.stop(0, 10s), 0);
  EXPECT_EQ(sizeOf(trashHome_.path() + "/Trash/files", "", false), 20005 + 20006);
  EXPECT_EQ(assets().size(), 5u);

  // Pulled again: the five come back whole, and nothing found in DEST is
  // lost: what changed here is kept aside under a name that says so.
  const testing::CommandResult again = laptop({"pull", dest_.path()});
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_NE(again.output.find("Copied 5 files"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("5 had changed or gone here and fetched again"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("3 files were kept aside"), std::string::npos) << again.output;
  for (const std::string name : {"IMG_0001 (changed here).JPG", "IMG_0003 (changed here).JPG", "IMG_0004 (changed here).JPG"}) {
    EXPECT_FALSE(copyOf(name).empty()) << name;
  }
  const std::map<std::string, int> now = copied();
  for (const auto& [hash, n] : sources_) EXPECT_EQ(now.count(hash), 1u) << "a photo of the device is not in DEST";
  const testing::CommandResult safeAgain = laptop({"safe", dest_.path()});
  EXPECT_NE(safeAgain.output.find("holds 5 photos and videos safely"), std::string::npos) << safeAgain.output;
}

// `safe` and `free` claim nothing from a folder that is not this device's
// copy: missing (a typo, a disk not plugged in), empty, or another's.
TEST_F(LaptopClientTest, AFolderThatIsNotTheCopyIsRefused) {
  ASSERT_NO_FATAL_FAILURE(write("IMG_0001.JPG", 1000));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(pairAndPull());
  ASSERT_EQ(laptop({"safe", dest_.path()}).status, 0);
  ASSERT_EQ(marks(), 1u);

  TemporaryFolder empty("e2e-laptop-empty");
  TemporaryFolder foreign("e2e-laptop-foreign");
  fs::copy(dest_.path(), foreign.path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  nlohmann::json record = nlohmann::json::parse(AtomicFile::read(foreign.path() + "/.lumenvale/held.json").value());
  record["deviceId"] = "another-device";
  ASSERT_TRUE(AtomicFile::write(foreign.path() + "/.lumenvale/held.json", record.dump()));
  const std::vector<std::pair<std::string, std::string>> folders = {
      {empty.path() + "/not-there", "is not a folder here. Is its disk plugged in?"},
      {empty.path(), "holds no copy from E2E Phone"},
      {foreign.path(), "holds a copy of a device this laptop is not paired with"},
  };
  for (const auto& [folder, said] : folders) {
    for (const std::string command : {"safe", "free"}) {
      SCOPED_TRACE(command + " " + folder);
      const testing::CommandResult refused = laptop({command, folder});
      EXPECT_EQ(refused.status, 1) << refused.output;
      EXPECT_NE(refused.output.find(said), std::string::npos) << refused.output;
      EXPECT_NE(refused.output.find("Nothing was sent."), std::string::npos) << refused.output;
    }
  }
  EXPECT_EQ(marks(), 1u);
}

// A verified copy is never overwritten: when the device's file changes, the
// earlier version stays beside the new one. Copies keep the device's
// modification time, and files DEST already holds (under ids the device no
// longer uses, or put there by other means) are taken, not fetched twice.
TEST_F(LaptopClientTest, CopiesAreKeptDatedAndNeverFetchedTwice) {
  // Mid-day, mid-month: the same day and month in any time zone.
  const fs::file_time_type june10 = std::chrono::file_clock::from_sys(std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::sys_days(std::chrono::year(2023) / 6 / 10) + std::chrono::hours(12)));
  const auto june11 = june10 + std::chrono::hours(24);
  for (const std::string name : {"IMG_0900.MOV", "IMG_0901.JPG", "IMG_0902.JPG"}) {
    ASSERT_NO_FATAL_FAILURE(write(name, name.ends_with(".MOV") ? 300000 : 40000 + name.size()));
    fs::last_write_time(photos_.path() + "/" + name, june10);
  }
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "3 photos and videos");
  ASSERT_NO_FATAL_FAILURE(pairAndPull());
  const std::string video = copyOf("IMG_0900.MOV");
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(fs::last_write_time(video), june10);
  const std::string earlier = AtomicFile::read(video).value();

  // The device's video gets other bytes.
  const std::string before = assets().dump();
  ASSERT_NO_FATAL_FAILURE(write("IMG_0900.MOV", 310000));
  fs::last_write_time(photos_.path() + "/IMG_0900.MOV", june11);
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (assets().dump() == before) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the device never saw the change";
    std::this_thread::sleep_for(200ms);
  }
  const testing::CommandResult pulled = laptop({"pull", dest_.path()});
  ASSERT_EQ(pulled.status, 0) << pulled.output;
  EXPECT_NE(pulled.output.find("Copied 1 file "), std::string::npos) << pulled.output;
  EXPECT_NE(pulled.output.find("1 file was kept aside"), std::string::npos) << pulled.output;
  const std::string kept = copyOf("IMG_0900 (2023-06-10 earlier).MOV");
  ASSERT_FALSE(kept.empty()) << pulled.output;
  EXPECT_EQ(AtomicFile::read(kept), earlier);
  EXPECT_EQ(fs::file_size(video), 310000u);
  EXPECT_EQ(fs::last_write_time(video), june11);

  // The laptop's record forgets the ids, as when the device lists the same
  // photos under new ones: the files are taken, not fetched again.
  nlohmann::json record = nlohmann::json::parse(AtomicFile::read(dest_.path() + "/.lumenvale/held.json").value());
  nlohmann::json renamed = nlohmann::json::object();
  for (const auto& [key, file] : record["files"].items()) renamed["old-" + key] = file;
  record["files"] = renamed;
  ASSERT_TRUE(AtomicFile::write(dest_.path() + "/.lumenvale/held.json", record.dump()));
  // And a photo the owner copied by hand is where the laptop would put it.
  ASSERT_NO_FATAL_FAILURE(write("IMG_0903.JPG", 60000));
  fs::last_write_time(photos_.path() + "/IMG_0903.JPG", june10);
  fs::copy_file(photos_.path() + "/IMG_0903.JPG", fs::path(video).parent_path() / "IMG_0903.JPG");
  const auto seen = std::chrono::steady_clock::now() + 30s;
  while (assets().size() < 4) {
    ASSERT_LT(std::chrono::steady_clock::now(), seen) << "the device never saw the new photo";
    std::this_thread::sleep_for(200ms);
  }
  const testing::CommandResult adopted = laptop({"pull", dest_.path()});
  ASSERT_EQ(adopted.status, 0) << adopted.output;
  EXPECT_EQ(received(adopted.output), 0) << adopted.output;
  EXPECT_NE(adopted.output.find("4 were found in the folder already and kept in place"), std::string::npos) << adopted.output;
  for (const auto& entry : fs::recursive_directory_iterator(dest_.path())) {
    EXPECT_EQ(entry.path().string().find("(2)"), std::string::npos) << entry.path();
  }
  EXPECT_NE(laptop({"safe", dest_.path()}).output.find("holds 4 photos and videos safely"), std::string::npos);
}

// A full disk stops the run at once with one line that says what is
// needed; what was copied is kept and counted as held next time.
TEST_F(LaptopClientTest, AFullDiskStopsThePullWithOneLine) {
  std::string why;
  if (!testing::mountTmpfs(dest_.path(), "16m", why)) GTEST_SKIP() << "no private mount here: " << why;
  for (int i = 0; i < 8; ++i) ASSERT_NO_FATAL_FAILURE(write("IMG_" + std::to_string(1000 + i) + ".JPG", 700000 + i));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "8 photos and videos");
  const testing::CommandResult paired = laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_});
  ASSERT_EQ(paired.status, 0) << paired.output;
  // Room for about three photos.
  const std::string filler = dest_.path() + "/filler";
  const std::size_t room = testing::fill(filler);
  ASSERT_GT(room, 2500000u);
  std::filesystem::resize_file(filler, room - 2500000);

  const testing::CommandResult full = laptop({"pull", dest_.path(), "--parallel", "2"});
  EXPECT_EQ(full.status, 1) << full.output;
  EXPECT_EQ(count(full.output, "is full"), 1u) << full.output;
  EXPECT_EQ(count(full.output, "not copied"), 0u) << full.output;
  EXPECT_TRUE(std::regex_search(
      full.output, std::regex(R"(Stopped: The disk that holds .* is full \(.* free\): about [0-9.]+ MB more are needed for the \d+ files? left)")))
      << full.output;
  fs::remove(filler);
  const std::size_t copiedBefore = copied().size();
  ASSERT_GT(copiedBefore, 0u);
  ASSERT_LT(copiedBefore, 8u);
  for (const auto& entry : fs::recursive_directory_iterator(dest_.path())) {
    if (entry.is_regular_file() && entry.path().extension() != ".json") {
      EXPECT_GT(entry.file_size(), 0u) << entry.path();
    }
  }

  const testing::CommandResult room2 = laptop({"pull", dest_.path()});
  ASSERT_EQ(room2.status, 0) << room2.output;
  EXPECT_NE(room2.output.find(std::to_string(copiedBefore) + (copiedBefore == 1 ? " was" : " were") + " held already"), std::string::npos)
      << room2.output;
  EXPECT_EQ(copied(), sources_);
}

// A device that goes away mid-pull is tried again for a while, then the run
// stops with one line, its partial file kept for next time.
TEST_F(LaptopClientTest, ADeviceGoneMidPullEndsTheRunWithOneLine) {
  for (int i = 0; i < 6; ++i) ASSERT_NO_FATAL_FAILURE(write("IMG_" + std::to_string(2000 + i) + ".MOV", 30 << 20));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "6 photos and videos");
  const testing::CommandResult paired = laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_});
  ASSERT_EQ(paired.status, 0) << paired.output;

  ::setenv("LUMENVALE_LAPTOP_TEST_RETRY_MS", "1500", 1);
  testing::Program pulling({LUMENVALE_LAPTOP_BINARY, "pull", dest_.path(), "--parallel", "2"});
  ::unsetenv("LUMENVALE_LAPTOP_TEST_RETRY_MS");
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (sizeOf(dest_.path() + "/.lumenvale/partial", ".part", true) < (4 << 20)) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the pull never started";
    ::usleep(2000);
  }
  program_->stop(SIGKILL);
  const auto killed = std::chrono::steady_clock::now();
  EXPECT_EQ(pulling.stop(0, 30s), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 15s);
  std::string output;
  while (const std::optional<std::string> line = pulling.nextLine(1s)) output += *line + "\n";
  EXPECT_EQ(count(output, "Stopped: Lost the connection to E2E Phone"), 1u) << output;
  EXPECT_EQ(count(output, "not copied"), 0u) << output;
  EXPECT_TRUE(std::regex_search(output, std::regex(R"(\d+ files? (is|are) left to copy)"))) << output;
  EXPECT_GT(sizeOf(dest_.path() + "/.lumenvale/partial", ".part", true), 0);
}

// The command line names what is wrong with it, and ends with status 2
// before anything is read or sent; --help and --version answer on every
// command.
TEST(LaptopCommandLine, NamesWhatIsWrong) {
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string said;
  };
  const std::vector<Case> cases = {
      {{}, 2, "A subcommand is required"},
      {{"fetch", "/tmp/x"}, 2, "\"fetch\" is not a command: say find, pair, devices, forget, watch, pull, safe or free."},
      {{"pull"}, 2, "DEST is required"},
      {{"pull", "/tmp/x", "--parallel", "0"}, 2, "--parallel: Value 0 not in range 1 to 16"},
      {{"pull", "/tmp/x", "--parallel=17"}, 2, "--parallel: Value 17 not in range 1 to 16"},
      {{"pull", "/tmp/x", "--fast"}, 2, "--fast"},
      {{"free", "/tmp/x", "--older-than", "3q"}, 2, "--older-than takes an age such as 30d, 2w or 1y, not \"3q\"."},
      {{"free", "/tmp/x", "--keep-recent", "-1"}, 2, "--keep-recent"},
      {{"pull", "/tmp/x", "--quiet", "--verbose"}, 2, "--quiet and --verbose"},
      {{"pair", "phone.local:99999", "--code", "AAAA-AAAA"}, 2, "\"99999\" is not a port."},
      {{"--version"}, 0, "lumenvale-laptop 0.1.0"},
      {{"free", "--version"}, 0, "lumenvale-laptop 0.1.0"},
      {{"free", "--help"}, 0, "--older-than"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {LUMENVALE_LAPTOP_BINARY};
    arguments.insert(arguments.end(), c.words.begin(), c.words.end());
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const testing::CommandResult ran = testing::runCommand(arguments, 20s);
    EXPECT_EQ(ran.status, c.status) << ran.output;
    EXPECT_NE(ran.output.find(c.said), std::string::npos) << ran.output;
  }
}

// `free --older-than` and `--keep-recent` keep the photos taken lately, or
// the newest ones, on the device; a script reads each outcome as JSON.
TEST_F(LaptopClientTest, FreeKeepsTheRecentPhotosAndScriptsReadTheOutcome) {
  const auto now = fs::file_time_type::clock::now();
  const std::vector<std::pair<std::string, int>> photos = {
      {"IMG_3001.JPG", 400}, {"IMG_3002.JPG", 90}, {"IMG_3003.JPG", 40}, {"IMG_3004.JPG", 10}, {"IMG_3005.JPG", 1}};
  for (const auto& [name, days] : photos) {
    ASSERT_NO_FATAL_FAILURE(write(name, 5000 + static_cast<std::size_t>(days)));
    fs::last_write_time(photos_.path() + "/" + name, now - std::chrono::hours(24 * days));
  }
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "5 photos and videos");
  const testing::CommandResult paired = laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_});
  ASSERT_EQ(paired.status, 0) << paired.output;
  const testing::CommandResult pulled = laptop({"pull", dest_.path(), "--json"});
  ASSERT_EQ(pulled.status, 0) << pulled.output;
  const nlohmann::json summary = lastJson(pulled.output);
  ASSERT_TRUE(summary.is_object()) << pulled.output;
  EXPECT_EQ(summary["copied"], 5);
  EXPECT_EQ(summary["stopped"], nullptr);
  ASSERT_EQ(laptop({"safe", dest_.path(), "--quiet"}).output, "E2E Phone now knows that this laptop holds 5 photos and videos safely.\n");

  struct Case {
    std::vector<std::string> options;
    std::size_t wouldGo;
  };
  const std::vector<Case> cases = {
      {{}, 5},
      {{"--older-than", "30d"}, 3},
      {{"--older-than", "8w"}, 2},
      {{"--older-than", "1y"}, 1},
      {{"--keep-recent", "2"}, 3},
      {{"--keep-recent", "2", "--older-than", "60"}, 2},
      {{"--keep-recent", "9"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.options));
    std::vector<std::string> words = {"free", dest_.path(), "--dry-run", "--json"};
    words.insert(words.end(), c.options.begin(), c.options.end());
    const testing::CommandResult dry = laptop(words);
    ASSERT_EQ(dry.status, 0) << dry.output;
    const nlohmann::json outcome = lastJson(dry.output);
    ASSERT_TRUE(outcome.is_object()) << dry.output;
    EXPECT_EQ(outcome["asked"], c.wouldGo);
    EXPECT_EQ(outcome["staying"], 5 - c.wouldGo);
  }
  // The oldest goes, with the owner's yes; the rest stay.
  ASSERT_EQ(testing::runCommand({LUMENVALE_BINARY, "--data", data_.path(), "settings", "set", "allowDelete", "true"}, 20s).status, 0);
  testing::Program freeing({LUMENVALE_LAPTOP_BINARY, "free", dest_.path(), "--older-than", "1y", "--json"});
  ASSERT_TRUE(program_->prompted("[y/N] ", 30s));
  program_->writeLine("y");
  const std::optional<std::string> line = freeing.nextLine(30s);
  ASSERT_TRUE(line);
  const nlohmann::json freed = nlohmann::json::parse(*line, nullptr, false);
  ASSERT_TRUE(freed.is_object()) << *line;
  ASSERT_EQ(freed["deleted"].size(), 1u) << *line;
  EXPECT_TRUE(freed["deleted"][0].get<std::string>().ends_with("IMG_3001.JPG")) << *line;
  EXPECT_EQ(freeing.stop(0, 10s), 0);
  EXPECT_EQ(assets().size(), 4u);
}

// A laptop paired with two devices keeps each apart: each copy folder is
// for its own device, a command on a new folder asks which, pairing again
// says what it replaces, and a forgotten device is no longer reached.
TEST_F(LaptopClientTest, TwoDevicesPairedAtOnce) {
  ASSERT_NO_FATAL_FAILURE(write("IMG_4001.JPG", 3000));
  ASSERT_NO_FATAL_FAILURE(start());
  TemporaryFolder tabletData("e2e-tablet");
  TemporaryFolder tabletPhotos("e2e-tablet-photos");
  ASSERT_TRUE(AtomicFile::write(tabletPhotos.path() + "/IMG_5001.JPG", std::string(4000, 't'), 0644));
  ASSERT_TRUE(AtomicFile::write(tabletPhotos.path() + "/IMG_5002.JPG", std::string(4001, 'u'), 0644));
  Program tablet({LUMENVALE_BINARY, "--headless", "--data", tabletData.path(), "--name", "E2E Tablet", "--listen",
                  "127.0.0.1", "--library", tabletPhotos.path()});
  const std::optional<std::string> tabletPort = tablet.lineStartingWith("Listening on port ");
  const std::optional<std::string> tabletCode = tablet.lineStartingWith("Pairing code: ");
  ASSERT_TRUE(tabletPort && tabletCode);
  ASSERT_EQ(laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_}).status, 0);
  code_ = program_->lineStartingWith("Pairing code: ").value_or("");
  const testing::CommandResult second = laptop({"pair", "127.0.0.1:" + *tabletPort, "--code", *tabletCode});
  ASSERT_EQ(second.status, 0) << second.output;
  EXPECT_NE(second.output.find("Paired with E2E Tablet."), std::string::npos) << second.output;

  const testing::CommandResult listed = laptop({"devices"});
  EXPECT_NE(listed.output.find("E2E Phone\t127.0.0.1:" + std::to_string(port_)), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("E2E Tablet\t127.0.0.1:" + *tabletPort), std::string::npos) << listed.output;

  // A new folder: which device?
  TemporaryFolder tabletDest("e2e-tablet-dest");
  const testing::CommandResult which = laptop({"pull", tabletDest.path()});
  EXPECT_EQ(which.status, 1);
  EXPECT_NE(which.output.find("paired with 2 devices: say which with --device NAME"), std::string::npos) << which.output;
  ASSERT_EQ(laptop({"pull", dest_.path(), "--device", "E2E Phone"}).status, 0);
  ASSERT_EQ(laptop({"pull", tabletDest.path(), "--device", "E2E Tablet"}).status, 0);
  // Each folder is then for its own device, with no need to say.
  EXPECT_NE(laptop({"safe", dest_.path()}).output.find("E2E Phone now knows that this laptop holds 1 photo or video safely."),
            std::string::npos);
  EXPECT_NE(laptop({"safe", tabletDest.path()}).output.find("E2E Tablet now knows that this laptop holds 2 photos and videos safely."),
            std::string::npos);
  const testing::CommandResult crossed = laptop({"safe", tabletDest.path(), "--device", "E2E Phone"});
  EXPECT_EQ(crossed.status, 1);
  EXPECT_NE(crossed.output.find("holds a copy of another device"), std::string::npos) << crossed.output;

  // Paired again: it says what it replaces.
  const std::optional<std::string> again = tablet.lineStartingWith("Pairing code: ");
  ASSERT_TRUE(again);
  const testing::CommandResult repaired = laptop({"pair", "127.0.0.1:" + *tabletPort, "--code", *again});
  EXPECT_NE(repaired.output.find("Paired with E2E Tablet again: this replaces the pairing of E2E Tablet."), std::string::npos)
      << repaired.output;
  EXPECT_EQ(laptop({"devices", "--json"}).output.find("E2E Tablet"), laptop({"devices", "--json"}).output.rfind("E2E Tablet"));

  ASSERT_EQ(laptop({"forget", "E2E Tablet"}).status, 0);
  const testing::CommandResult forgotten = laptop({"pull", tabletDest.path()});
  EXPECT_EQ(forgotten.status, 1);
  EXPECT_NE(forgotten.output.find("a device this laptop is not paired with (any more)"), std::string::npos) << forgotten.output;
  EXPECT_EQ(laptop({"pull", dest_.path()}).status, 0);
}

// `watch` keeps a copy without anyone running anything: it pulls and
// reports safe when it starts, again when a photo is added, says once that
// the device went away, and goes on when it is back.
TEST_F(LaptopClientTest, WatchCopiesWhateverChangesWhileTheDeviceComesAndGoes) {
  ASSERT_NO_FATAL_FAILURE(write("IMG_6001.JPG", 3000));
  ASSERT_NO_FATAL_FAILURE(write("IMG_6002.JPG", 3001));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "2 photos and videos");
  ASSERT_EQ(laptop({"pair", "127.0.0.1:" + std::to_string(port_), "--code", code_}).status, 0);

  Program watching({LUMENVALE_LAPTOP_BINARY, "watch", dest_.path(), "--every", "1"});
  EXPECT_TRUE(watching.lineStartingWith("Copied 2 files", 30s));
  EXPECT_TRUE(watching.lineStartingWith("E2E Phone now knows that this laptop holds 2 photos and videos safely.", 30s));

  ASSERT_NO_FATAL_FAILURE(write("IMG_6003.JPG", 3002));
  EXPECT_TRUE(watching.lineStartingWith("Copied 1 file ", 30s));
  EXPECT_TRUE(watching.lineStartingWith("E2E Phone now knows that this laptop holds 3 photos and videos safely.", 30s));

  // Away for a few looks: said once.
  ASSERT_EQ(program_->stop(), 0);
  const std::optional<std::string> gone = watching.lineStartingWith("E2E Phone does not answer at 127.0.0.1:", 30s);
  ASSERT_TRUE(gone);
  EXPECT_NE(gone->find("Trying again every 1 s."), std::string::npos) << *gone;
  ASSERT_NO_FATAL_FAILURE(write("IMG_6004.JPG", 3003));
  std::this_thread::sleep_for(3s);
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_TRUE(watching.lineStartingWith("E2E Phone answers again at 127.0.0.1:" + std::to_string(port_) + ".", 30s));
  EXPECT_TRUE(watching.lineStartingWith("Copied 1 file ", 30s));
  EXPECT_EQ(std::count_if(watching.lines().begin(), watching.lines().end(),
                          [](const std::string& line) { return line.find("does not answer") != std::string::npos; }),
            1);
  EXPECT_EQ(watching.stop(SIGTERM), 128 + SIGTERM);
  EXPECT_EQ(copied(), sources_);
}

}  // namespace
}  // namespace lumenvale
