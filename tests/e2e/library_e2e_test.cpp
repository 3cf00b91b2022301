// A paired laptop copies a small photo folder from the real binary: it lists
// everything page by page, fetches thumbnails, downloads every file whole and
// resumed, and checks each against the file on disk and the device's SHA-256.
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

  std::string token_;
};

TEST_F(LibraryTest, LaptopCopiesEveryFileExactly) {
  ASSERT_NO_FATAL_FAILURE(makeLibrary());
  ASSERT_NO_FATAL_FAILURE(start());
  auto client = connect();
  ASSERT_TRUE(client);
  token_ = pairLaptop(*client, "copier");
  ASSERT_EQ(program_->printed("Library: ", 60s), "3 photos and videos");
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
      const HttpResponse past =
          authorized(*client, path, "Range: bytes=" + std::to_string(onDisk.size()) + "-\r\n");
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

}  // namespace
}  // namespace lumenvale
