// A paired laptop reports what it holds safely and asks the real binary to
// delete: refused while the owner's setting is off, then put to the owner
// on the terminal, kept on a no, moved to the Trash on a yes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>

#include "e2e/device_fixture.h"
#include "support/command.h"
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
  EXPECT_NE(question->find("2 photos and videos"), std::string::npos) << *question;
  program_->writeLine("n");
  std::optional<HttpResponse> response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 409);
  EXPECT_EQ(json(*response)["error"], "cancelled");
  for (const char* name : {"IMG_0001.JPG", "IMG_0001.MOV", "IMG_0002.JPG", "IMG_E0002.JPG", "IMG_0002.AAE"}) {
    EXPECT_TRUE(fs::exists(photos_.path() + "/" + name)) << name;
  }

  // A yes moves every file of both assets to the Trash, adjustments included.
  ASSERT_TRUE(client->request("POST", "/v1/delete", "Authorization: Bearer " + token_ + "\r\n", both.dump()));
  ASSERT_TRUE(program_->prompted("[y/N] "));
  program_->writeLine("yes");
  response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200) << response->body;
  EXPECT_EQ(json(*response), nlohmann::json({{"deleted", {assets.at("IMG_0002.JPG")["id"], assets.at("IMG_0001.JPG")["id"]}},
                                             {"kept", nlohmann::json::array()}}));
  const std::string trash = xdgData_.path() + "/Trash";
  for (const char* name : {"IMG_0001.JPG", "IMG_0001.MOV", "IMG_0002.JPG", "IMG_E0002.JPG", "IMG_0002.AAE"}) {
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

}  // namespace
}  // namespace lumenvale
