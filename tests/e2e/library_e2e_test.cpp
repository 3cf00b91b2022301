// A paired laptop copies a small photo folder from the real binary: it lists
// everything page by page, fetches thumbnails, downloads every file whole and
// resumed, and checks each against the file on disk and the device's SHA-256.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "e2e/device_fixture.h"
#include "support/command.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

class LibraryTest : public DeviceTest {
 protected:
  // A picture and a short movie made by FFmpeg, and a file that claims to be
  // a JPEG but is 3 MiB of noise: it is listed and copied, but has no
  // thumbnail.
  void makeLibrary() {
    const std::string folder = photos_.path();
    const auto ffmpeg = [](std::vector<std::string> arguments) {
      arguments.insert(arguments.begin(), {"/usr/bin/ffmpeg", "-loglevel", "error", "-y"});
      return testing::runCommand(arguments, 60s).status;
    };
    ASSERT_EQ(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=640x480", "-frames:v", "1", folder + "/IMG_0001.JPG"}), 0);
    ASSERT_EQ(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=10", "-t", "1", "-pix_fmt", "yuv420p",
                      "-metadata", "creation_time=2024-05-01T10:00:00Z", folder + "/IMG_0002.MOV"}),
              0);
    std::string noise(3 * 1048576 + 17, '\0');
    std::mt19937 random(7);
    for (char& c : noise) c = static_cast<char>(random());
    ASSERT_TRUE(AtomicFile::write(folder + "/IMG_0003.JPG", noise, 0644));
  }

  HttpResponse authorized(TlsClient& client, const std::string& target, const std::string& extra = "") {
    return ask(client, "GET", target, "Authorization: Bearer " + token_ + "\r\n" + extra);
  }

  // startCopier starts the device, pairs a laptop on `client` and waits
  // until the library says `count`.
  void startCopier(std::unique_ptr<TlsClient>& client, const std::string& count) {
    ASSERT_NO_FATAL_FAILURE(start());
    client = connect();
    ASSERT_TRUE(client);
    token_ = pairLaptop(*client, "copier");
    ASSERT_FALSE(token_.empty());
    ASSERT_EQ(program_->printed("Library: ", 60s), count);
  }

  // listed returns the assets of the first page of the listing.
  nlohmann::json listed(TlsClient& client) {
    const HttpResponse answer = authorized(client, "/v1/assets?limit=500");
    EXPECT_EQ(answer.status, 200) << answer.body;
    return json(answer)["assets"];
  }

  std::string token_;
};

TEST_F(LibraryTest, LaptopCopiesEveryFileExactly) {
  ASSERT_NO_FATAL_FAILURE(makeLibrary());
  std::unique_ptr<TlsClient> client;
  ASSERT_NO_FATAL_FAILURE(startCopier(client, "3 photos and videos"));
  ASSERT_FALSE(token_.empty());

  // Follow the cursor two at a time until the listing ends.
  std::vector<nlohmann::json> assets;
  std::string target = "/v1/assets?limit=2";
  for (int pages = 0; pages < 10; ++pages) {
    const HttpResponse listed = authorized(*client, target);
    ASSERT_EQ(listed.status, 200) << listed.body;
    const nlohmann::json page = json(listed);
    for (const auto& asset : page["assets"]) assets.push_back(asset);
    if (page["next"].is_null()) break;
    target = "/v1/assets?limit=2&after=" + page["next"].get<std::string>();
  }
  ASSERT_EQ(assets.size(), 3u);

  std::map<std::string, int> thumbnails;
  for (const nlohmann::json& asset : assets) {
    const std::string id = asset["id"];
    const HttpResponse thumb = authorized(*client, "/v1/assets/" + id + "/thumb?px=64");
    ++thumbnails[std::to_string(thumb.status)];
    if (thumb.status == 200) {
      EXPECT_EQ(thumb.header("Content-Type"), "image/jpeg");
      EXPECT_TRUE(thumb.body.starts_with("\xFF\xD8"));
    }
    for (const nlohmann::json& resource : asset["resources"]) {
      const std::string name = resource["name"];
      SCOPED_TRACE(name);
      const std::string path = "/v1/assets/" + id + "/res/" + resource["rid"].get<std::string>();
      const std::string onDisk = AtomicFile::read(photos_.path() + "/" + name).value_or("missing");
      const HttpResponse whole = authorized(*client, path);
      EXPECT_EQ(whole.status, 200);
      EXPECT_TRUE(whole.body == onDisk) << whole.body.size() << " bytes against " << onDisk.size();
      const std::size_t from = onDisk.size() / 3;
      const HttpResponse resumed = authorized(*client, path, "Range: bytes=" + std::to_string(from) + "-\r\n");
      EXPECT_EQ(resumed.status, 206);
      EXPECT_EQ(resumed.header("Content-Range"), "bytes " + std::to_string(from) + "-*/*");
      EXPECT_EQ(resumed.header("ETag"), whole.header("ETag"));
      EXPECT_TRUE(resumed.body == onDisk.substr(from));
      const HttpResponse past = authorized(*client, path, "Range: bytes=" + std::to_string(onDisk.size()) + "-\r\n");
      EXPECT_EQ(past.status, 416);
      EXPECT_EQ(past.header("Content-Range"), "bytes */" + std::to_string(onDisk.size()));
      const HttpResponse checksum = authorized(*client, path + "/sha256");
      EXPECT_EQ(json(checksum)["sha256"], Bytes::hex(Crypto::sha256(onDisk)));
    }
  }
  // The picture and the movie have thumbnails; the noise has none.
  EXPECT_EQ(thumbnails, (std::map<std::string, int>{{"200", 2}, {"404", 1}}));
  EXPECT_EQ(authorized(*client, "/v1/assets/bm90LWFuLWFzc2V0/thumb").status, 404);
  EXPECT_EQ(authorized(*client, "/v1/assets/bm90LWFuLWFzc2V0/res/photo").status, 404);
}

// Someone who can write the photo folder (a synced folder, a shared card)
// plants links and a FIFO while the device runs: links are never followed,
// whatever they point at, and a FIFO in place of a listed photo is refused
// at once instead of holding a connection for good.
TEST_F(LibraryTest, LinksAndFifosInTheFolderAreNeverServed) {
  ASSERT_NO_FATAL_FAILURE(makeLibrary());
  std::unique_ptr<TlsClient> client;
  ASSERT_NO_FATAL_FAILURE(startCopier(client, "3 photos and videos"));

  namespace fs = std::filesystem;
  const fs::path photos = photos_.path();
  std::optional<fs::path> key;
  for (const auto& entry : fs::recursive_directory_iterator(data_.path())) {
    if (entry.path().extension() == ".pem") key = entry.path();
  }
  ASSERT_TRUE(key) << "no key file in the data folder";
  const TemporaryFolder outside{"e2e-outside"};
  ASSERT_TRUE(AtomicFile::write(outside.path() + "/IMG_0009.JPG", "outside the library", 0644));
  fs::create_symlink(*key, photos / "IMG_0004.JPG");
  fs::create_symlink("/etc/passwd", photos / "IMG_0005.JPG");
  fs::create_directory_symlink(outside.path(), photos / "linked");
  fs::create_hard_link(*key, photos / "IMG_0006.JPG");
  fs::copy_file(photos / "IMG_0001.JPG", photos / "IMG_0007.JPG");
  ASSERT_EQ(program_->lineStartingWith("Library: ", 30s), "4 photos and videos");

  std::vector<std::string> names;
  std::string copyId;
  for (const auto& asset : listed(*client)) {
    for (const auto& resource : asset["resources"]) names.push_back(resource["name"]);
    if (asset["resources"][0]["name"] == "IMG_0007.JPG") copyId = asset["id"];
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.MOV", "IMG_0003.JPG", "IMG_0007.JPG"}));

  // The listed copy becomes a FIFO: every request for it is answered, and
  // more of them than there are connection places leave the device serving.
  fs::remove(photos / "IMG_0007.JPG");
  ASSERT_EQ(::mkfifo((photos / "IMG_0007.JPG").c_str(), 0644), 0);
  for (int attempt = 0; attempt < 10; ++attempt) {
    auto asker = connect();
    ASSERT_TRUE(asker);
    EXPECT_TRUE(
        asker->request("GET", "/v1/assets/" + copyId + "/res/photo", "Authorization: Bearer " + token_ + "\r\n"));
    const std::optional<HttpResponse> answer = asker->response();
    ASSERT_TRUE(answer) << "a request for a FIFO got no answer";
    EXPECT_TRUE(answer->status == 404 || answer->status == 503) << answer->status;
  }
  const HttpResponse still = authorized(*client, "/v1/assets?limit=1");
  EXPECT_EQ(still.status, 200);
}

// The photo folder is away for a moment (renamed, a card out and in) and a
// photo is rewritten in place: ids stay, and the version moves with the
// bytes, so a resumed download can tell.
TEST_F(LibraryTest, IdsSurviveAnAbsenceAndVersionsFollowTheBytes) {
  namespace fs = std::filesystem;
  const fs::path card = fs::path(photos_.path()) / "card";
  fs::create_directories(card);
  const auto movie = [&](const std::string& source, const fs::path& to) {
    return testing::runCommand({"/usr/bin/ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", source, "-t", "1",
                                "-pix_fmt", "yuv420p", "-metadata", "creation_time=2021-10-30T18:40:00Z", to.string()},
                               60s)
        .status;
  };
  ASSERT_EQ(movie("testsrc=size=160x120:rate=10", card / "IMG_0100.MOV"), 0);
  std::unique_ptr<TlsClient> client;
  ASSERT_NO_FATAL_FAILURE(startCopier(client, "1 photo or video"));
  const auto only = [&] {
    const nlohmann::json assets = listed(*client);
    return assets.empty() ? nlohmann::json() : assets[0];
  };
  const nlohmann::json first = only();
  ASSERT_FALSE(first.is_null());
  const std::string target = "/v1/assets/" + first["id"].get<std::string>() + "/res/video";
  const std::string etag = authorized(*client, target).header("ETag").value_or("");

  fs::rename(card, fs::path(photos_.path()) / ".away");
  ASSERT_EQ(program_->lineStartingWith("Library: ", 30s), "0 photos and videos");
  EXPECT_EQ(authorized(*client, target).status, 404);
  fs::rename(fs::path(photos_.path()) / ".away", card);
  ASSERT_EQ(program_->lineStartingWith("Library: ", 30s), "1 photo or video");
  EXPECT_EQ(only()["id"], first["id"]);
  EXPECT_EQ(only()["modified"], first["modified"]);

  // Other bytes written over the file, its capture time unchanged.
  const TemporaryFolder scratch{"e2e-scratch"};
  const fs::path other = fs::path(scratch.path()) / "other.mov";
  ASSERT_EQ(movie("testsrc2=size=160x120:rate=10", other), 0);
  {
    std::ofstream over(card / "IMG_0100.MOV", std::ios::binary | std::ios::trunc);
    over << std::ifstream(other, std::ios::binary).rdbuf();
  }
  nlohmann::json rewritten;
  for (int tries = 0; tries < 100 && (rewritten.is_null() || rewritten["modified"] == first["modified"]); ++tries) {
    std::this_thread::sleep_for(100ms);
    rewritten = only();
  }
  EXPECT_EQ(rewritten["id"], first["id"]);
  EXPECT_EQ(rewritten["created"], first["created"]);
  EXPECT_NE(rewritten["modified"], first["modified"]);
  EXPECT_NE(authorized(*client, target).header("ETag").value_or(""), etag);
}

// A library folder named before it exists (a card not yet mounted, a folder
// still to be made) is served as soon as it appears, without a restart.
TEST_F(LibraryTest, AFolderMadeAfterTheStartIsServed) {
  const std::string later = photos_.path() + "/Later";
  ASSERT_NO_FATAL_FAILURE(start({"--library", later}));
  auto client = connect();
  ASSERT_TRUE(client);
  token_ = pairLaptop(*client, "early");
  ASSERT_FALSE(token_.empty());
  std::this_thread::sleep_for(1s);

  const std::string photo = "\xFF\xD8\xFF\xE0 not much of a picture";
  ASSERT_TRUE(std::filesystem::create_directory(later));
  ASSERT_TRUE(AtomicFile::write(later + "/IMG_0001.JPG", photo, 0644));
  ASSERT_TRUE(program_->lineStartingWith("Library: 1 photo or video", 10s)) << "the folder was not indexed";

  const HttpResponse listed = authorized(*client, "/v1/assets");
  ASSERT_EQ(listed.status, 200) << listed.body;
  const nlohmann::json assets = json(listed)["assets"];
  ASSERT_EQ(assets.size(), 1u) << listed.body;
  const nlohmann::json& resource = assets[0]["resources"][0];
  EXPECT_EQ(resource["name"], "IMG_0001.JPG");
  const HttpResponse whole = authorized(
      *client, "/v1/assets/" + assets[0]["id"].get<std::string>() + "/res/" + resource["rid"].get<std::string>());
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, photo);
}

// The catalog is found damaged at a start (a torn card, a crash of the file
// system): the device says so, builds it again and every asset keeps its id.
TEST_F(LibraryTest, ADamagedCatalogIsRebuiltWithTheSameIds) {
  ASSERT_NO_FATAL_FAILURE(makeLibrary());
  std::unique_ptr<TlsClient> client;
  ASSERT_NO_FATAL_FAILURE(startCopier(client, "3 photos and videos"));
  const auto ids = [&] {
    std::vector<std::string> found;
    for (const auto& asset : listed(*client)) found.push_back(asset["id"]);
    std::sort(found.begin(), found.end());
    return found;
  };
  const std::vector<std::string> before = ids();
  ASSERT_EQ(before.size(), 3u);
  client.reset();
  EXPECT_EQ(program_->stop(), 0);

  ASSERT_TRUE(AtomicFile::write(data_.path() + "/library.db", std::string(8192, '\x5a'), 0600));
  ASSERT_NO_FATAL_FAILURE(start());
  const std::optional<std::string> said = program_->printed("The photo catalog was damaged", 5s);
  ASSERT_TRUE(said);
  EXPECT_NE(said->find("with the ids of 3 photos and videos kept"), std::string::npos) << *said;
  ASSERT_EQ(program_->printed("Library: ", 60s), "3 photos and videos");
  client = connect();
  ASSERT_TRUE(client);
  EXPECT_EQ(ids(), before);
}

}  // namespace
}  // namespace lumenvale
