// The real binary killed with SIGKILL at random moments while laptops pair,
// safe lists arrive, settings change and the catalog indexes new photos;
// after every kill each stored file loads with its old or its new content.
// Then a full disk: writes fail, nothing stored is damaged, and the device
// neither crashes nor reports a pairing it could not keep.
// LUMENVALE_STRESS_KILLS sets the number of kills (100 unless given).
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "e2e/device_fixture.h"
#include "platform/folder/catalog.h"
#include "support/command.h"
#include "support/private_mount.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/format.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Marks = std::map<std::string, std::string>;  // asset id -> modified

int killCount() {
  const char* given = std::getenv("LUMENVALE_STRESS_KILLS");
  const long kills = given != nullptr ? std::strtol(given, nullptr, 10) : 0;
  return kills > 0 ? static_cast<int>(kills) : 100;
}

std::string readOrEmpty(const std::string& path) { return AtomicFile::read(path).value_or(""); }

// leftovers counts the temporary files of interrupted writes in `folder`.
int leftovers(const std::string& folder) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".") && name.ends_with(".tmp")) ++count;
  }
  return count;
}

// integrity runs SQLite's own check of the catalog file.
std::string integrity(const std::string& file) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return result;
}

// laptopsOnDisk reads laptops.json as a write makes it: id -> token hash.
// Nothing when the file is there but is not such a list.
std::optional<std::map<std::string, std::string>> laptopsOnDisk(const std::string& file) {
  std::map<std::string, std::string> laptops;
  const std::optional<std::string> text = AtomicFile::read(file);
  if (!text) return laptops;
  const nlohmann::json list = nlohmann::json::parse(*text, nullptr, false);
  if (!list.is_array()) return std::nullopt;
  for (const nlohmann::json& laptop : list) {
    if (!laptop.is_object() || !laptop.contains("id") || !laptop.contains("tokenHash") ||
        !laptop.contains("name") || !laptop.contains("pairedAt")) {
      return std::nullopt;
    }
    laptops[laptop["id"]] = laptop["tokenHash"];
  }
  return laptops;
}

std::optional<std::map<std::string, Marks>> marksOnDisk(const std::string& file) {
  std::map<std::string, Marks> marks;
  const std::optional<std::string> text = AtomicFile::read(file);
  if (!text) return marks;
  const nlohmann::json all = nlohmann::json::parse(*text, nullptr, false);
  if (!all.is_object()) return std::nullopt;
  for (const auto& [laptop, held] : all.items()) {
    if (!held.is_object()) return std::nullopt;
    for (const auto& [asset, modified] : held.items()) marks[laptop][asset] = modified;
  }
  return marks;
}

// What the test knows the device has kept, and what it may or may not have
// kept when the kill came.
struct Known {
  std::map<std::string, std::string> laptops;  // id -> token hash, as on disk
  std::map<std::string, std::string> tokens;   // id -> token, for the laptops whose answer arrived
  std::optional<std::pair<std::string, std::string>> pairing;  // (id, token hash) when known
  std::optional<std::string> pairingId;
  std::map<std::string, Marks> marks;
  std::optional<std::pair<std::string, Marks>> marking;  // a safe list under way
  std::optional<bool> allowDelete;
  std::optional<bool> settingTo;
  std::string deviceId;
  std::string fingerprint;  // of the certificate on disk, once there is one
  std::int64_t catalogCount = 0;
};

class CrashTest : public DeviceTest {
 protected:
  void addPhoto(int index) {
    std::string bytes = Bytes::random(2000);
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%05d.JPG", index);
    ASSERT_TRUE(AtomicFile::write(photos_.path() + "/" + name, bytes, 0644));
  }

  std::vector<std::string> arguments() const {
    return {LUMENVALE_BINARY, "--headless", "--data", data_.path(), "--name", "Crash Phone",
            "--listen", "127.0.0.1", "--library", photos_.path()};
  }

  // Talks to the running device until a request fails (it was killed) or
  // a few rounds are done: a safe list for a known laptop, then a pairing.
  void work(Program& program, Known& known, std::mt19937& random) {
    const std::optional<std::string> fingerprint = program.lineStartingWith("Fingerprint: ", 10s);
    if (!fingerprint) return;
    if (!known.fingerprint.empty()) {
      EXPECT_EQ(*fingerprint, known.fingerprint) << "the identity changed";
    }
    const std::optional<std::string> port = program.lineStartingWith("Listening on port ", 10s);
    std::optional<std::string> code = program.lineStartingWith("Pairing code: ", 10s);
    if (!port || !code) return;
    std::unique_ptr<TlsClient> client = TlsClient::connect(static_cast<std::uint16_t>(std::stoi(*port)), *fingerprint, 2s);
    for (int round = 0; client && round < 3; ++round) {
      if (!known.tokens.empty()) {
        auto laptop = known.tokens.begin();
        std::advance(laptop, random() % known.tokens.size());
        Marks marks;
        for (int i = 0, n = static_cast<int>(random() % 40); i < n; ++i) {
          marks["asset-" + std::to_string(random() % 200)] = "2024-05-0" + std::to_string(1 + random() % 9) + "T10:00:00Z";
        }
        nlohmann::json items = nlohmann::json::array();
        for (const auto& [id, modified] : marks) items.push_back({{"id", id}, {"modified", modified}});
        const nlohmann::json body = {{"items", items},
                                     {"operation", {{"id", "op-" + Bytes::hex(Bytes::random(4))}, {"total", marks.size()}}}};
        known.marking = {laptop->first, marks};
        if (!client->request("POST", "/v1/safe", "Authorization: Bearer " + laptop->second + "\r\n", body.dump())) return;
        const std::optional<HttpResponse> answer = client->response();
        if (!answer) return;
        EXPECT_EQ(answer->status, 200) << answer->body;
        known.marks[laptop->first] = marks;
        known.marking.reset();
      }
      const std::string id = "crash-laptop-" + Bytes::hex(Bytes::random(4));
      const std::string proof = testing::laptopProof(testing::symbolsOf(*code), *fingerprint, id);
      known.pairingId = id;
      const nlohmann::json body = {{"laptopId", id}, {"laptopName", "Crash Laptop"}, {"proof", proof}};
      if (!client->request("POST", "/v1/pair", "", body.dump())) return;
      const std::optional<HttpResponse> answer = client->response();
      if (!answer) return;
      EXPECT_EQ(answer->status, 200) << answer->body;
      const std::string token = json(*answer).value("token", "");
      known.laptops[id] = Bytes::hex(Crypto::sha256(token));
      known.tokens[id] = token;
      known.pairingId.reset();
      code = program.lineStartingWith("Pairing code: ", 10s);
      if (!code) return;
    }
  }

  // check compares what is on disk with what the device was told and may
  // have kept, then takes the disk's word as the new known state.
  void check(Known& known, std::int64_t photos) {
    const std::string data = data_.path();
    const auto laptops = laptopsOnDisk(data + "/laptops.json");
    ASSERT_TRUE(laptops) << "laptops.json does not load: " << readOrEmpty(data + "/laptops.json");
    for (const auto& [id, hash] : known.laptops) {
      ASSERT_TRUE(laptops->count(id)) << "a laptop told it was paired is gone: " << id;
      EXPECT_EQ(laptops->at(id), hash);
    }
    for (const auto& [id, hash] : *laptops) {
      if (known.laptops.count(id)) continue;
      ASSERT_EQ(known.pairingId, id) << "laptops.json holds a laptop nobody paired";
      known.laptops[id] = hash;  // kept, though its answer never arrived
    }
    known.pairingId.reset();

    const auto marks = marksOnDisk(data + "/safe.json");
    ASSERT_TRUE(marks) << "safe.json does not load: " << readOrEmpty(data + "/safe.json");
    std::set<std::string> laptopsWithMarks;
    for (const auto& [laptop, held] : known.marks) laptopsWithMarks.insert(laptop);
    for (const auto& [laptop, held] : *marks) laptopsWithMarks.insert(laptop);
    for (const std::string& laptop : laptopsWithMarks) {
      const Marks onDisk = marks->count(laptop) ? marks->at(laptop) : Marks{};
      const Marks old = known.marks.count(laptop) ? known.marks.at(laptop) : Marks{};
      const bool isNew = known.marking && known.marking->first == laptop && known.marking->second == onDisk;
      EXPECT_TRUE(onDisk == old || isNew) << "safe.json holds neither the old nor the new list of " << laptop;
      known.marks[laptop] = onDisk;
    }
    known.marking.reset();

    const std::optional<std::string> settings = AtomicFile::read(data + "/settings.json");
    if (settings) {
      const nlohmann::json stored = nlohmann::json::parse(*settings, nullptr, false);
      ASSERT_TRUE(stored.is_object()) << "settings.json does not load: " << *settings;
      const std::optional<bool> allow =
          stored.contains("allowDelete") ? std::optional(stored["allowDelete"].get<bool>()) : std::nullopt;
      EXPECT_TRUE(allow == known.allowDelete || allow == known.settingTo) << "allowDelete is neither old nor new";
      known.allowDelete = allow;
    } else {
      EXPECT_FALSE(known.allowDelete) << "settings.json is gone";
    }
    known.settingTo.reset();

    const std::string keychain = data + "/keychain";
    const std::string deviceId = readOrEmpty(keychain + "/device-id");
    if (!known.deviceId.empty()) {
      EXPECT_EQ(deviceId, known.deviceId) << "the device id changed";
    }
    known.deviceId = deviceId;
    if (const std::optional<std::string> certificate = AtomicFile::read(keychain + "/identity-certificate.der")) {
      const std::string fingerprint = Bytes::hex(Crypto::sha256(*certificate));
      if (!known.fingerprint.empty()) {
        EXPECT_EQ(fingerprint, known.fingerprint) << "the certificate changed";
      }
      known.fingerprint = fingerprint;
      // The key is stored before the certificate that names it.
      EXPECT_TRUE(fs::exists(keychain + "/identity-key.pem"));
    } else {
      EXPECT_TRUE(known.fingerprint.empty()) << "the certificate is gone";
    }

    if (fs::exists(data + "/library.db")) {
      ASSERT_EQ(integrity(data + "/library.db"), "ok");
      Catalog catalog(data);
      const std::int64_t count = catalog.count();
      EXPECT_TRUE(count == known.catalogCount || count == photos)
          << "the catalog holds " << count << " assets, neither " << known.catalogCount << " nor " << photos;
      known.catalogCount = count;
    }
  }
};

TEST_F(CrashTest, EveryStoreLoadsOldOrNewAfterAKillAtAnyMoment) {
  const int kills = killCount();
  // Moments differ from run to run; the seed is printed with the result.
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::printf("crash: %d kills, seed %u\n", kills, seed);
  Known known;
  int photos = 0;
  // One run without a kill tells how long a start and the work take here;
  // the kills then fall anywhere in that time, start-up included.
  ASSERT_NO_FATAL_FAILURE(addPhoto(++photos));
  const auto calibrating = std::chrono::steady_clock::now();
  {
    Program device(arguments());
    work(device, known, random);
    ASSERT_TRUE(known.marking || !known.tokens.empty()) << "the device did not come up";
    EXPECT_EQ(device.stop(SIGTERM), 0);
  }
  const auto window = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - calibrating);
  ASSERT_NO_FATAL_FAILURE(check(known, photos));
  int killedWhileStarting = 0;
  int killedWhileServing = 0;
  for (int kill = 0; kill < kills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill + 1));
    ASSERT_NO_FATAL_FAILURE(addPhoto(++photos));
    // The device and, beside it, the owner changing a setting; each is
    // killed at its own random moment.
    known.settingTo = !known.allowDelete.value_or(false);
    auto device = std::make_unique<Program>(arguments());
    Program setting(std::vector<std::string>{LUMENVALE_BINARY, "--data", data_.path(), "settings", "set", "allowDelete",
                                             *known.settingTo ? "true" : "false"});
    const auto deviceDelay = std::chrono::milliseconds(random() % (window.count() + 1));
    const auto settingDelay = std::chrono::microseconds(random() % 30000);
    std::thread killer([pid = device->pid(), settingPid = setting.pid(), deviceDelay, settingDelay] {
      std::this_thread::sleep_for(settingDelay);
      ::kill(settingPid, SIGKILL);
      std::this_thread::sleep_until(std::chrono::steady_clock::now() + deviceDelay - settingDelay);
      ::kill(pid, SIGKILL);
    });
    work(*device, known, random);
    killer.join();
    const bool served = std::any_of(device->lines().begin(), device->lines().end(),
                                    [](const std::string& line) { return line.starts_with("Listening on port "); });
    ++(served ? killedWhileServing : killedWhileStarting);
    EXPECT_EQ(device->stop(SIGKILL), 128 + SIGKILL);
    const int settingStatus = setting.stop(SIGKILL);
    if (settingStatus == 0) known.allowDelete = known.settingTo;
    ASSERT_NO_FATAL_FAILURE(check(known, photos));
    if (::testing::Test::HasFailure()) break;
  }

  // A last start without a kill: everything told is there.
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(fingerprint_, known.fingerprint);
  EXPECT_EQ(program_->printed("Library: ", 60s), Format::count(photos) + " photos and videos");
  auto client = connect();
  ASSERT_TRUE(client);
  for (const auto& [id, token] : known.tokens) {
    EXPECT_EQ(json(ask(*client, "GET", "/v1/info", "Authorization: Bearer " + token + "\r\n"))["paired"], true) << id;
  }
  const int left = leftovers(data_.path());
  std::printf("crash: %d kills survived (%d while starting, %d while serving) within %lld ms of a start, "
              "%zu laptops paired, %d temporary files left by interrupted writes\n",
              killedWhileStarting + killedWhileServing, killedWhileStarting, killedWhileServing,
              static_cast<long long>(window.count()), known.laptops.size(), left);
  EXPECT_EQ(program_->stop(SIGTERM), 0);
}

TEST_F(CrashTest, AFullDiskFailsWritesWithoutDamageOrACrash) {
  std::string why;
  if (!testing::mountTmpfs(data_.path(), "4m", why)) GTEST_SKIP() << "no small file system to fill: " << why;
  const std::string data = data_.path();
  ASSERT_NO_FATAL_FAILURE(addPhoto(1));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "1 photo or video");
  auto client = connect();
  ASSERT_TRUE(client);
  const std::string token = pairLaptop(*client, "laptop-before");
  const std::string authorization = "Authorization: Bearer " + token + "\r\n";
  const auto postSafe = [&](const std::string& asset) {
    const nlohmann::json body = {{"items", {{{"id", asset}, {"modified", "2024-05-01T10:00:00Z"}}}},
                                 {"operation", {{"id", "op-" + asset}, {"total", 1}}}};
    return ask(*client, "POST", "/v1/safe", authorization, body.dump());
  };
  ASSERT_EQ(postSafe("kept").status, 200);
  ASSERT_EQ(testing::runCommand({LUMENVALE_BINARY, "--data", data, "settings", "set", "theme", "light"}, 20s).status, 0);
  const std::string laptopsBefore = readOrEmpty(data + "/laptops.json");
  const std::string marksBefore = readOrEmpty(data + "/safe.json");
  const std::string settingsBefore = readOrEmpty(data + "/settings.json");

  ASSERT_GT(testing::fill(data + "/filler"), 0u);
  // Pairing is refused rather than answered with a token the device
  // cannot keep; the code that follows pairs once there is room.
  const HttpResponse paired = pair(*client, "laptop-full", testing::laptopProof(testing::symbolsOf(code_), fingerprint_, "laptop-full"));
  EXPECT_EQ(paired.status, 503) << paired.body;
  EXPECT_EQ(json(paired)["error"], "storage_full");
  code_ = program_->lineStartingWith("Pairing code: ").value_or("");
  EXPECT_EQ(postSafe("lost").status, 200);  // the marks live on in memory
  const testing::CommandResult setting =
      testing::runCommand({LUMENVALE_BINARY, "--data", data, "settings", "set", "theme", "dark"}, 20s);
  EXPECT_EQ(setting.status, 1);
  EXPECT_NE(setting.output.find("cannot write"), std::string::npos) << setting.output;
  ASSERT_NO_FATAL_FAILURE(addPhoto(2));  // the catalog cannot take it
  std::this_thread::sleep_for(2s);

  EXPECT_EQ(readOrEmpty(data + "/laptops.json"), laptopsBefore);
  EXPECT_EQ(readOrEmpty(data + "/safe.json"), marksBefore);
  EXPECT_EQ(readOrEmpty(data + "/settings.json"), settingsBefore);
  EXPECT_EQ(leftovers(data), 0);
  EXPECT_EQ(integrity(data + "/library.db"), "ok");
  EXPECT_EQ(ask(*client, "GET", "/v1/assets", authorization).status, 200) << "the device stopped answering";

  // With room again, the code shown then pairs, and a restart finds what
  // was kept.
  ASSERT_TRUE(fs::remove(data + "/filler"));
  const HttpResponse later = pair(*client, "laptop-full", testing::laptopProof(testing::symbolsOf(code_), fingerprint_, "laptop-full"));
  EXPECT_EQ(later.status, 200) << later.body;
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  client.reset();
  ASSERT_NO_FATAL_FAILURE(start());
  client = connect();
  ASSERT_TRUE(client);
  EXPECT_EQ(json(ask(*client, "GET", "/v1/info", authorization))["paired"], true);
  EXPECT_EQ(json(ask(*client, "GET", "/v1/info", "Authorization: Bearer " + json(later).value("token", "") + "\r\n"))["paired"], true);
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  ::umount2(data.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace lumenvale
