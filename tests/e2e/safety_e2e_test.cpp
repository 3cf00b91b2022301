// A paired laptop reports what it holds safely and asks the real binary to
// delete: refused while the owner's setting is off, then put to the owner
// on the terminal, kept on a no, moved to the Trash on a yes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <random>
#include <regex>

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

class SafetyTest : public DeviceTest {
 protected:
  void SetUp() override {
    // The Trash of this test's own, on the same disk as the photos.
    ::setenv("XDG_DATA_HOME", xdgData_.path().c_str(), 1);
    std::mt19937 random(11);
    const auto noise = [&](std::size_t size) {
      std::string bytes(size, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      return bytes;
    };
    // A Live Photo, an edited photo with its adjustments, and a photo.
    for (const char* name : {"IMG_0001.JPG", "IMG_0001.MOV", "IMG_0002.JPG", "IMG_E0002.JPG", "IMG_0002.AAE",
                             "IMG_0003.JPG"}) {
      ASSERT_TRUE(AtomicFile::write(photos_.path() + "/" + name, noise(20000), 0644));
    }
  }
  void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

  int settings(const std::vector<std::string>& words, std::string* output = nullptr) {
    std::vector<std::string> arguments = {LUMENVALE_BINARY, "--data", data_.path(), "settings"};
    arguments.insert(arguments.end(), words.begin(), words.end());
    const testing::CommandResult result = testing::runCommand(arguments, 20s);
    if (output) *output = result.output;
    return result.status;
  }

  HttpResponse post(TlsClient& client, const std::string& path, const nlohmann::json& body) {
    return ask(client, "POST", path, "Authorization: Bearer " + token_ + "\r\n", body.dump());
  }

  // listing returns every asset id with its resources' rids, by main file name.
  std::map<std::string, nlohmann::json> listing(TlsClient& client) {
    const HttpResponse listed = ask(client, "GET", "/v1/assets?limit=500", "Authorization: Bearer " + token_ + "\r\n");
    EXPECT_EQ(listed.status, 200) << listed.body;
    const nlohmann::json page = json(listed);
    std::map<std::string, nlohmann::json> byName;
    for (const nlohmann::json& asset : page["assets"]) byName[asset["resources"][0]["name"].get<std::string>()] = asset;
    return byName;
  }

  // deleteRequest names every file of `asset` with its SHA-256 on disk.
  nlohmann::json deleteRequest(const nlohmann::json& asset, const std::map<std::string, std::string>& fileOf) {
    nlohmann::json items = nlohmann::json::array();
    for (const nlohmann::json& resource : asset["resources"]) {
      const std::string bytes = AtomicFile::read(photos_.path() + "/" + fileOf.at(resource["rid"])).value();
      items.push_back({{"id", asset["id"]}, {"rid", resource["rid"]}, {"sha256", Bytes::hex(Crypto::sha256(bytes))}});
    }
    return {{"items", items}};
  }

  // startPaired starts the device, pairs `laptopId` and lists the library.
  void startPaired(const std::string& laptopId, std::unique_ptr<TlsClient>& client,
                   std::map<std::string, nlohmann::json>& assets) {
    ASSERT_NO_FATAL_FAILURE(start());
    client = connect();
    ASSERT_TRUE(client);
    token_ = pairLaptop(*client, laptopId);
    ASSERT_EQ(program_->printed("Library: ", 60s), "3 photos and videos");
    assets = listing(*client);
    ASSERT_EQ(assets.size(), 3u);
  }

  TemporaryFolder xdgData_{"e2e-xdg"};
  std::string token_;
};

TEST_F(SafetyTest, ASafeListInTwoRequests) {
  std::unique_ptr<TlsClient> client;
  std::map<std::string, nlohmann::json> assets;
  ASSERT_NO_FATAL_FAILURE(startPaired("keeper", client, assets));
  const nlohmann::json& first = assets.at("IMG_0001.JPG");
  const nlohmann::json& second = assets.at("IMG_0003.JPG");
  const auto item = [](const nlohmann::json& asset) { return nlohmann::json{{"id", asset["id"]}, {"modified", asset["modified"]}}; };
  const auto list = [&](const nlohmann::json& items) {
    return nlohmann::json{{"operation", {{"id", "op-7"}, {"total", 2}}}, {"items", items}};
  };
  HttpResponse answered = post(*client, "/v1/safe", list(nlohmann::json::array({item(first)})));
  EXPECT_EQ(answered.status, 200);
  EXPECT_EQ(json(answered), nlohmann::json({{"complete", false}}));
  answered = post(*client, "/v1/safe", list(nlohmann::json::array({item(second)})));
  EXPECT_EQ(json(answered), nlohmann::json({{"complete", true}}));
  const nlohmann::json stored = nlohmann::json::parse(AtomicFile::read(data_.path() + "/safe.json").value_or("null"));
  EXPECT_EQ(stored, nlohmann::json({{"keeper", {{first["id"], first["modified"]}, {second["id"], second["modified"]}}}}));
}

TEST_F(SafetyTest, ADeleteIsVerifiedThenPutToTheOwner) {
  std::unique_ptr<TlsClient> client;
  std::map<std::string, nlohmann::json> assets;
  ASSERT_NO_FATAL_FAILURE(startPaired("freer", client, assets));
  const nlohmann::json live = deleteRequest(assets.at("IMG_0001.JPG"), {{"photo", "IMG_0001.JPG"}, {"video", "IMG_0001.MOV"}});
  nlohmann::json both = deleteRequest(assets.at("IMG_0002.JPG"), {{"photo", "IMG_0002.JPG"}, {"edited", "IMG_E0002.JPG"}});
  for (const nlohmann::json& item : live["items"]) both["items"].push_back(item);

  // Off until the owner turns it on; read afresh on every request.
  HttpResponse answered = post(*client, "/v1/delete", both);
  EXPECT_EQ(answered.status, 403);
  EXPECT_EQ(json(answered)["error"], "delete_off");
  std::string printed;
  EXPECT_EQ(settings({"get", "allowDelete"}, &printed), 0);
  EXPECT_EQ(printed, "false\n");
  EXPECT_EQ(settings({"set", "allowDelete", "maybe"}), 2);
  EXPECT_EQ(settings({"set", "allowDelete", "true"}), 0);
  EXPECT_EQ(settings({"get", "allowDelete"}, &printed), 0);
  EXPECT_EQ(printed, "true\n");

  // A no keeps everything.
  ASSERT_TRUE(client->request("POST", "/v1/delete", "Authorization: Bearer " + token_ + "\r\n", both.dump()));
  const std::optional<std::string> question = program_->prompted("[y/N] ");
  ASSERT_TRUE(question);
  // Who asks, what, how much and from when; no EXIF, so taken when written.
  EXPECT_TRUE(std::regex_search(*question, std::regex(R"(^Test Laptop has copied 2 photos \(80 KB, taken on )"
                                                      R"([A-Z][a-z]{2} \d{1,2}, \d{4}\) and asks to delete them here\. )"
                                                      R"(Move them to the Trash\? \[y/N\] $)")))
      << *question;
  program_->writeLine("n");
  std::optional<HttpResponse> response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 409);
  EXPECT_EQ(json(*response)["error"], "cancelled");
  for (const char* name : {"IMG_0001.JPG", "IMG_0001.MOV", "IMG_0002.JPG", "IMG_E0002.JPG", "IMG_0002.AAE"}) {
    EXPECT_TRUE(fs::exists(photos_.path() + "/" + name)) << name;
  }

  // A yes moves every listed file of both assets to the Trash; the
  // adjustments, which no laptop was offered, stay.
  ASSERT_TRUE(client->request("POST", "/v1/delete", "Authorization: Bearer " + token_ + "\r\n", both.dump()));
  ASSERT_TRUE(program_->prompted("[y/N] "));
  program_->writeLine("yes");
  response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200) << response->body;
  EXPECT_EQ(json(*response), nlohmann::json({{"deleted", {assets.at("IMG_0002.JPG")["id"], assets.at("IMG_0001.JPG")["id"]}},
                                             {"kept", nlohmann::json::array()}}));
  const std::string trash = xdgData_.path() + "/Trash";
  EXPECT_TRUE(fs::exists(photos_.path() + "/IMG_0002.AAE"));
  EXPECT_FALSE(fs::exists(trash + "/files/IMG_0002.AAE"));
  for (const char* name : {"IMG_0001.JPG", "IMG_0001.MOV", "IMG_0002.JPG", "IMG_E0002.JPG"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(fs::exists(photos_.path() + "/" + name));
    EXPECT_TRUE(fs::exists(trash + "/files/" + name));
    const std::string info = AtomicFile::read(trash + "/info/" + name + ".trashinfo").value_or("");
    EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=" + fs::canonical(photos_.path()).string() + "/" + name + "\n"))
        << info;
    EXPECT_NE(info.find("\nDeletionDate="), std::string::npos);
  }
  const auto left = listing(*client);
  EXPECT_EQ(left.size(), 1u);
  EXPECT_TRUE(left.count("IMG_0003.JPG"));

  // Turned off again: refused at once, even with a body that is no JSON.
  EXPECT_EQ(settings({"set", "allowDelete", "false"}), 0);
  EXPECT_EQ(ask(*client, "POST", "/v1/delete", "Authorization: Bearer " + token_ + "\r\n", "not json").status, 403);
}

// --- The owner's question --------------------------------------------------

class QuestionTest : public SafetyTest {
 protected:
  void SetUp() override {
    SafetyTest::SetUp();
    // The owner's two minutes, shortened for this test alone.
    ::setenv("LUMENVALE_TEST_ANSWER_MS", "3000", 1);
  }
  void TearDown() override {
    ::unsetenv("LUMENVALE_TEST_ANSWER_MS");
    SafetyTest::TearDown();
  }

  // askToDelete sends the delete of IMG_0003 and waits for the question.
  void askToDelete(TlsClient& client, const std::map<std::string, nlohmann::json>& assets) {
    ASSERT_EQ(settings({"set", "allowDelete", "true"}), 0);
    const nlohmann::json body = deleteRequest(assets.at("IMG_0003.JPG"), {{"photo", "IMG_0003.JPG"}});
    ASSERT_TRUE(client.request("POST", "/v1/delete", "Authorization: Bearer " + token_ + "\r\n", body.dump()));
    ASSERT_TRUE(program_->prompted("[y/N] "));
  }

  // untilLine returns the lines printed before the one that begins with
  // `prefix`, which must come within `timeout`.
  std::vector<std::string> untilLine(const std::string& prefix, std::chrono::milliseconds timeout) {
    std::vector<std::string> before;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::optional<std::string> line = program_->nextLine(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
      if (!line) break;
      if (line->starts_with(prefix)) return before;
      before.push_back(*line);
    }
    ADD_FAILURE() << "no line \"" << prefix << "...\" within " << timeout.count() << " ms";
    return before;
  }
};

TEST_F(QuestionTest, NoStatusLineBreaksAnOpenQuestionAndItsEndIsSaid) {
  std::unique_ptr<TlsClient> client;
  std::map<std::string, nlohmann::json> assets;
  ASSERT_NO_FATAL_FAILURE(startPaired("asker", client, assets));
  // A second laptop, seen while the question is open, changes the status.
  auto other = connect();
  ASSERT_TRUE(other);
  const nlohmann::json pairing = {{"laptopId", "other"},
                                  {"proof", testing::laptopProof(testing::symbolsOf(code_), fingerprint_, "other")},
                                  {"laptopName", "Other Laptop"}};
  const HttpResponse paired = ask(*other, "POST", "/v1/pair", "", pairing.dump());
  ASSERT_EQ(paired.status, 200) << paired.body;
  ASSERT_NO_FATAL_FAILURE(askToDelete(*client, assets));
  EXPECT_EQ(ask(*other, "GET", "/v1/assets?limit=1", "Authorization: Bearer " + json(paired).value("token", "") + "\r\n").status,
            200);

  // Only the end of the question's own line comes before what ended it.
  EXPECT_EQ(untilLine("No answer in time: nothing was deleted.", 8s), std::vector<std::string>{""});
  const std::optional<HttpResponse> response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 409);
  EXPECT_EQ(json(*response)["error"], "cancelled");
  EXPECT_TRUE(fs::exists(photos_.path() + "/IMG_0003.JPG"));
  // The status held back is printed once the question is gone.
  EXPECT_TRUE(program_->lineStartingWith("Status: connected to Other Laptop", 5s));
}

TEST_F(QuestionTest, AQuestionWhoseLaptopHungUpIsWithdrawn) {
  ::setenv("LUMENVALE_TEST_ANSWER_MS", "60000", 1);  // far beyond the wait below
  std::unique_ptr<TlsClient> client;
  std::map<std::string, nlohmann::json> assets;
  ASSERT_NO_FATAL_FAILURE(startPaired("leaver", client, assets));
  ASSERT_NO_FATAL_FAILURE(askToDelete(*client, assets));
  client.reset();  // as a laptop whose owner pressed Ctrl-C
  EXPECT_EQ(untilLine("The laptop hung up, so the question is withdrawn: nothing was deleted.", 5s),
            std::vector<std::string>{""});
  program_->writeLine("y");  // too late: no question is open
  client = connect();
  ASSERT_TRUE(client);
  EXPECT_EQ(listing(*client).size(), 3u);
  EXPECT_TRUE(fs::exists(photos_.path() + "/IMG_0003.JPG"));
  EXPECT_FALSE(fs::exists(xdgData_.path() + "/Trash/files/IMG_0003.JPG"));
}

// --- One device per data folder ------------------------------------------------

TEST_F(SafetyTest, ASecondDeviceOnTheSameDataFolderIsRefused) {
  ASSERT_NO_FATAL_FAILURE(start());
  const testing::CommandResult second = testing::runCommand(
      {LUMENVALE_BINARY, "--headless", "--data", data_.path(), "--listen", "127.0.0.1", "--library", photos_.path()}, 5s);
  EXPECT_EQ(second.status, 1) << second.output;
  EXPECT_NE(second.output.find("another lumenvale is already running on the data folder " + data_.path()),
            std::string::npos)
      << second.output;

  // A setting reaches the file the running device reads, and says which.
  const std::string file = fs::absolute(data_.path() + "/settings.json").lexically_normal().string();
  std::string printed;
  EXPECT_EQ(settings({"set", "allowDelete", "true"}, &printed), 0);
  EXPECT_EQ(printed, "Set allowDelete to true in " + file + "; the running lumenvale uses it from its next request.\n");
  auto client = connect();
  ASSERT_TRUE(client);
  token_ = pairLaptop(*client, "setter");
  const HttpResponse info = ask(*client, "GET", "/v1/info", "Authorization: Bearer " + token_ + "\r\n");
  EXPECT_EQ(json(info)["delete"], "on") << info.body;
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  EXPECT_EQ(settings({"set", "theme", "dark"}, &printed), 0);
  EXPECT_EQ(printed, "Set theme to dark in " + file + ".\n");
}

// --- The Trash of the photos' own disk -------------------------------------

TEST_F(SafetyTest, PhotosOnAnotherDiskGoToThatDisksTrash) {
  std::string why;
  if (!testing::mountTmpfs(photos_.path(), "4m", why)) GTEST_SKIP() << "no second file system: " << why;
  const std::string card = photos_.path();
  const std::string uid = std::to_string(::getuid());
  for (const char* name : {"A.JPG", "B.JPG", "C.JPG", "D.JPG"}) {
    ASSERT_TRUE(AtomicFile::write(card + "/" + name, std::string(20000, name[0]), 0644));
  }
  ASSERT_NO_FATAL_FAILURE(start());
  auto client = connect();
  ASSERT_TRUE(client);
  token_ = pairLaptop(*client, "carder");
  ASSERT_EQ(program_->printed("Library: ", 60s), "4 photos and videos");
  ASSERT_EQ(settings({"set", "allowDelete", "true"}), 0);
  const std::map<std::string, nlohmann::json> assets = listing(*client);

  struct Case {
    const char* name;
    const char* photo;
    std::function<void()> prepare;
    const char* trash;  // where the photo goes, under the card; nullptr: it stays
  };
  const Case cases[] = {
      {"no Trash yet: the user's own is made", "A.JPG", [] {}, ".Trash-$uid"},
      {"a shared Trash with the sticky bit", "B.JPG",
       [&] { ASSERT_EQ(::mkdir((card + "/.Trash").c_str(), 01777), 0); ASSERT_EQ(::chmod((card + "/.Trash").c_str(), 01777), 0); },
       ".Trash/$uid"},
      {"a shared Trash without the sticky bit is not used", "C.JPG",
       [&] { ASSERT_EQ(::chmod((card + "/.Trash").c_str(), 0777), 0); }, ".Trash-$uid"},
      {"the user's own Trash is a link", "D.JPG",
       [&] {
         fs::rename(card + "/.Trash-" + uid, card + "/elsewhere");
         fs::create_directory_symlink("elsewhere", card + "/.Trash-" + uid);
       },
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    const nlohmann::json& asset = assets.at(c.photo);
    ASSERT_TRUE(client->request("POST", "/v1/delete", "Authorization: Bearer " + token_ + "\r\n",
                                deleteRequest(asset, {{"photo", c.photo}}).dump()));
    ASSERT_TRUE(program_->prompted("[y/N] "));
    program_->writeLine("y");
    const std::optional<HttpResponse> response = client->response();
    ASSERT_TRUE(response);
    ASSERT_EQ(response->status, 200) << response->body;
    if (!c.trash) {
      EXPECT_EQ(json(*response), nlohmann::json({{"deleted", nlohmann::json::array()},
                                                 {"kept", {{{"id", asset["id"]}, {"reason", "no_trash"}}}}}));
      // The owner is told too.
      EXPECT_EQ(program_->lineStartingWith("Moved ", 5s), "0 to the Trash.");
      EXPECT_EQ(program_->lineStartingWith("Kept ", 5s), "1: no Trash on the disk that holds the files can take them.");
      EXPECT_TRUE(fs::exists(card + "/" + c.photo));
      EXPECT_TRUE(listing(*client).count(c.photo));
      continue;
    }
    EXPECT_EQ(json(*response), nlohmann::json({{"deleted", {asset["id"]}}, {"kept", nlohmann::json::array()}}));
    std::string trash = c.trash;
    trash.replace(trash.find("$uid"), 4, uid);
    trash = card + "/" + trash;
    EXPECT_FALSE(fs::exists(card + "/" + c.photo));
    EXPECT_EQ(AtomicFile::read(trash + "/files/" + c.photo), std::string(20000, c.photo[0]));
    // Paths relative to the disk's top, true wherever it is mounted next.
    const std::string info = AtomicFile::read(trash + "/info/" + c.photo + ".trashinfo").value_or("");
    EXPECT_TRUE(info.starts_with(std::string("[Trash Info]\nPath=") + c.photo + "\n")) << info;
    struct stat facts {};
    ASSERT_EQ(::lstat(trash.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0700u);
    EXPECT_FALSE(listing(*client).count(c.photo));
  }
  EXPECT_FALSE(fs::exists(xdgData_.path() + "/Trash/files"));
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  ::umount2(card.c_str(), MNT_DETACH);
}

TEST_F(SafetyTest, WithTheDataDiskFullWhatWasMovedIsReportedDeleted) {
  std::string why;
  if (!testing::mountTmpfs(data_.path(), "4m", why)) GTEST_SKIP() << "no small file system to fill: " << why;
  std::unique_ptr<TlsClient> client;
  std::map<std::string, nlohmann::json> assets;
  ASSERT_NO_FATAL_FAILURE(startPaired("filler", client, assets));
  ASSERT_EQ(settings({"set", "allowDelete", "true"}), 0);
  ASSERT_GT(testing::fill(data_.path() + "/filler"), 0u);

  const nlohmann::json& asset = assets.at("IMG_0003.JPG");
  const std::string authorization = "Authorization: Bearer " + token_ + "\r\n";
  ASSERT_TRUE(client->request("POST", "/v1/delete", authorization,
                              deleteRequest(asset, {{"photo", "IMG_0003.JPG"}}).dump()));
  ASSERT_TRUE(program_->prompted("[y/N] "));
  program_->writeLine("y");
  const std::optional<HttpResponse> response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200) << response->body;
  EXPECT_EQ(json(*response), nlohmann::json({{"deleted", {asset["id"]}}, {"kept", nlohmann::json::array()}}));
  EXPECT_TRUE(fs::exists(xdgData_.path() + "/Trash/files/IMG_0003.JPG"));
  // Its files are gone: it is no asset to fetch any more.
  const std::string id = asset["id"].get<std::string>();
  EXPECT_EQ(ask(*client, "GET", "/v1/assets/" + id + "/res/photo", authorization).status, 404);
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  ::umount2(data_.path().c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace lumenvale
