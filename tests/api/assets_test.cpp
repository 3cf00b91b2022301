#include <gtest/gtest.h>

#include "api/api.h"
#include "library/photo_library.h"
#include "support/byte_streams.h"
#include "support/memory_photo_store.h"
#include "support/program.h"
#include "transport/http.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using testing::MemoryPhotoStore;
using testing::StringSink;

const std::string kToken = "asset-token";

// A response as it went out: status, headers in order, the raw body, and
// for a chunked body the payload sizes of its frames and their joined bytes.
struct Sent {
  int status = 0;
  Http::Headers headers;
  std::string body;
  std::vector<std::size_t> frames;
  bool lastChunk = false;

  std::optional<std::string> header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
      if (key == name) return value;
    }
    return std::nullopt;
  }
};

Sent readBack(const std::string& bytes) {
  Sent sent;
  const std::size_t end = bytes.find("\r\n\r\n");
  const std::string head = bytes.substr(0, end);
  sent.status = std::stoi(head.substr(9, 3));
  for (std::size_t at = head.find("\r\n"); at != std::string::npos;) {
    const std::size_t next = head.find("\r\n", at + 2);
    const std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
    const std::size_t colon = line.find(": ");
    sent.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    at = next;
  }
  std::string rest = bytes.substr(end + 4);
  if (sent.header("Transfer-Encoding") != "chunked") {
    sent.body = rest;
    return sent;
  }
  for (;;) {
    const std::size_t lineEnd = rest.find("\r\n");
    if (lineEnd == std::string::npos) break;
    const std::size_t size = std::stoul(rest.substr(0, lineEnd), nullptr, 16);
    if (size == 0) {
      sent.lastChunk = rest.substr(lineEnd) == "\r\n\r\n";
      break;
    }
    sent.frames.push_back(size);
    sent.body += rest.substr(lineEnd + 2, size);
    rest.erase(0, lineEnd + 2 + size + 2);
  }
  return sent;
}

std::string numbered(std::string prefix, int n) {
  prefix += std::to_string(n);
  return prefix;
}

class RecordingTransfers : public Transfers {
 public:
  void began(const std::string& asset) override { events.push_back("began " + asset); }
  void ended(std::int64_t bytes, bool wholeFile) override {
    events.push_back("ended " + std::to_string(bytes) + (wholeFile ? " whole" : ""));
  }
  std::vector<std::string> events;
};

class AssetsTest : public ::testing::Test {
 protected:
  AssetsTest()
      : folder_("assets"),
        laptops_(folder_.path() + "/laptops.json"),
        pairing_(std::string(64, 'a')),
        library_(store_, nullptr, [] { return std::string("UTC"); }),
        transfers_(std::make_shared<RecordingTransfers>()),
        api_(pairing_, laptops_, library_, callbacks()) {
    laptops_.add("laptop", "", kToken, systemNow());
  }

  Api::Callbacks callbacks() {
    Api::Callbacks callbacks;
    callbacks.transfers = transfers_;
    return callbacks;
  }

  // addPhoto adds a photo taken at `created` (seconds) with one file.
  std::string addPhoto(const std::string& local, std::optional<Instant> created, std::string data = "jpeg") {
    MemoryPhotoStore::StoredAsset asset;
    asset.record.localIdentifier = local;
    asset.record.creationDate = created;
    asset.record.modificationDate = created.value_or(0);
    asset.record.mediaType = PhotoStore::kImage;
    asset.record.pixelWidth = 4032;
    asset.record.pixelHeight = 3024;
    MemoryPhotoStore::StoredFile file;
    file.file = {ResourceType::photo, "IMG_" + local + ".JPG", "public.jpeg", local};
    file.data = std::move(data);
    asset.files.push_back(std::move(file));
    store_.add(std::move(asset));
    return PhotoLibrary::wireId(local);
  }

  // get answers one authenticated GET; a thrown refusal comes back as its
  // JSON error response.
  Sent get(const std::string& path, std::map<std::string, std::string> query = {},
           std::optional<std::string> range = std::nullopt) {
    HttpRequest request;
    request.method = "GET";
    request.path = path;
    request.query = std::move(query);
    request.headers["authorization"] = "Bearer " + kToken;
    if (range) request.headers["range"] = *range;
    StringSink sink;
    try {
      api_.route(request, sink);
    } catch (const HttpError& error) {
      sink.send(Http::error(error));
    }
    return readBack(sink.sent);
  }

  testing::TemporaryFolder folder_;
  Laptops laptops_;
  Pairing pairing_;
  MemoryPhotoStore store_;
  PhotoLibrary library_;
  std::shared_ptr<RecordingTransfers> transfers_;
  Api api_;
};

TEST_F(AssetsTest, ListingPagesAndLimits) {
  for (int i = 0; i < 205; ++i) addPhoto(numbered("P", i), 1000.0 + i);
  const Sent first = get("/v1/assets");
  ASSERT_EQ(first.status, 200);
  const nlohmann::json page = nlohmann::json::parse(first.body);
  EXPECT_EQ(page["assets"].size(), 200u);
  ASSERT_TRUE(page["next"].is_string());
  const Sent rest = get("/v1/assets", {{"after", page["next"]}, {"limit", "500"}});
  const nlohmann::json last = nlohmann::json::parse(rest.body);
  EXPECT_EQ(last["assets"].size(), 5u);
  EXPECT_TRUE(last["next"].is_null());

  EXPECT_EQ(nlohmann::json::parse(get("/v1/assets", {{"limit", "+7"}}).body)["assets"].size(), 7u);
  EXPECT_EQ(get("/v1/assets", {{"after", ""}, {"limit", "3"}}).body, get("/v1/assets", {{"limit", "3"}}).body);
  for (const char* limit : {"0", "501", "abc", "", "1.5", "-1", "99999999999999999999"}) {
    SCOPED_TRACE(limit);
    const Sent refused = get("/v1/assets", {{"limit", limit}});
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(nlohmann::json::parse(refused.body)["message"], "limit is a number from 1 to 500.");
  }
  const Sent badCursor = get("/v1/assets", {{"after", "not-a-cursor"}});
  EXPECT_EQ(badCursor.status, 400);
  EXPECT_EQ(nlohmann::json::parse(badCursor.body)["message"], "That cursor did not come from this phone.");
}

TEST_F(AssetsTest, ExactlyFullLastPageEndsTheListing) {
  for (int i = 0; i < 14; ++i) addPhoto(numbered("Q", i), 50.0);  // one burst, one second
  const nlohmann::json first = nlohmann::json::parse(get("/v1/assets", {{"limit", "7"}}).body);
  const nlohmann::json second =
      nlohmann::json::parse(get("/v1/assets", {{"limit", "7"}, {"after", first["next"]}}).body);
  EXPECT_EQ(second["assets"].size(), 7u);
  EXPECT_TRUE(second["next"].is_null());
  std::set<std::string> ids;
  for (const auto& page : {first, second}) {
    for (const auto& asset : page["assets"]) ids.insert(asset["id"].get<std::string>());
  }
  EXPECT_EQ(ids.size(), 14u);
}

// A folder may hold a file whose name is not UTF-8; the listing still holds
// every asset, that one under a name with U+FFFD, and its file downloads.
TEST_F(AssetsTest, AFileNameThatIsNotUtf8IsListedWithReplacementCharacters) {
  addPhoto("before", 300.0);
  const std::string odd = addPhoto("odd", 200.0, "odd bytes");
  store_.replaceFiles("odd", {{{ResourceType::photo, "IMG_\xFF\xFE.JPG", "public.jpeg", "odd"}, "odd bytes", false, std::nullopt, 0}});
  addPhoto("after", 100.0);
  const Sent listing = get("/v1/assets");
  ASSERT_EQ(listing.status, 200);
  const nlohmann::json page = nlohmann::json::parse(listing.body);
  ASSERT_EQ(page["assets"].size(), 3u);
  EXPECT_EQ(page["assets"][1]["id"], odd);
  EXPECT_EQ(page["assets"][1]["resources"][0]["name"], "IMG_\xEF\xBF\xBD\xEF\xBF\xBD.JPG");
  EXPECT_EQ(get("/v1/assets/" + odd + "/res/photo").body, "odd bytes");
}

TEST_F(AssetsTest, DownloadsWholeResumedAndRefused) {
  const std::string ten = addPhoto("TEN", 10.0, "0123456789");
  const std::string empty = addPhoto("EMPTY", 11.0, "");
  struct Case {
    const char* name;
    std::string id;
    std::optional<std::string> range;
    int status;
    std::string body;
    std::optional<std::string> contentRange;
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"whole", ten, std::nullopt, 200, "0123456789", std::nullopt, {"began " + ten, "ended 10 whole"}},
      {"from_zero", ten, "bytes=0-", 200, "0123456789", std::nullopt, {"began " + ten, "ended 10 whole"}},
      {"resumed", ten, "bytes=5-", 206, "56789", "bytes 5-*/*", {"began " + ten, "ended 5 whole"}},
      {"at_end", ten, "bytes=10-", 416, "", "bytes */10", {}},
      {"past_end", ten, "bytes=50-", 416, "", "bytes */10", {}},
      {"closed_range", ten, "bytes=5-9", 416, "", "bytes */*", {}},
      {"empty_file", empty, std::nullopt, 200, "", std::nullopt, {"began " + empty, "ended 0 whole"}},
      {"empty_file_from_zero", empty, "bytes=0-", 200, "", std::nullopt, {"began " + empty, "ended 0 whole"}},
  };
  for (bool seekable : {false, true}) {
    store_.setSeekable(seekable);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (seekable ? " seeking" : " from the start"));
      transfers_->events.clear();
      const Sent sent = get("/v1/assets/" + c.id + "/res/photo", {}, c.range);
      EXPECT_EQ(sent.status, c.status);
      EXPECT_EQ(sent.header("Content-Range"), c.contentRange);
      EXPECT_EQ(transfers_->events, c.events);
      if (c.status == 416) {
        const std::string message = c.contentRange == "bytes */*" ? "Only a range of the form bytes=<from>- is served."
                                                                   : "The range starts past the end of the file.";
        EXPECT_EQ(nlohmann::json::parse(sent.body),
                  nlohmann::json({{"error", "range_not_satisfiable"}, {"message", message}}));
        continue;
      }
      EXPECT_EQ(sent.body, c.body);
      EXPECT_TRUE(sent.lastChunk);
      ASSERT_GE(sent.headers.size(), 4u);
      EXPECT_EQ(sent.headers[0], (std::pair<std::string, std::string>("Content-Type", "image/jpeg")));
      EXPECT_EQ(sent.headers[1].first, "ETag");
      EXPECT_EQ(sent.headers[2], (std::pair<std::string, std::string>("Accept-Ranges", "bytes")));
      EXPECT_EQ(sent.headers[3], (std::pair<std::string, std::string>("Transfer-Encoding", "chunked")));
      EXPECT_EQ(sent.headers.size(), c.contentRange ? 5u : 4u);
    }
  }
  const Sent gone = get("/v1/assets/" + ten + "/res/video");
  EXPECT_EQ(gone.status, 404);
  EXPECT_EQ(nlohmann::json::parse(gone.body)["message"], "That photo is no longer on the phone.");
}

TEST_F(AssetsTest, LargeFilesGoInFramesOfOneMebibyte) {
  std::string data(3 * 1048576 + 1, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
  const std::string id = addPhoto("BIG", 5.0, data);
  store_.setPieceBytes(data.size());  // the store hands the file over in one piece
  const Sent sent = get("/v1/assets/" + id + "/res/photo");
  EXPECT_EQ(sent.frames, (std::vector<std::size_t>{1048576, 1048576, 1048576, 1}));
  EXPECT_TRUE(sent.body == data);
  EXPECT_EQ(transfers_->events.back(), "ended " + std::to_string(data.size()) + " whole");

  // The checksum is the SHA-256 of exactly what the download streams.
  const Sent checksum = get("/v1/assets/" + id + "/res/photo/sha256");
  EXPECT_EQ(checksum.status, 200);
  EXPECT_EQ(nlohmann::json::parse(checksum.body),
            nlohmann::json({{"sha256", Bytes::hex(Crypto::sha256(sent.body))}}));
}

TEST_F(AssetsTest, AFailedReadEndsTheTransferAndPassesOn) {
  MemoryPhotoStore::StoredAsset asset;
  asset.record.localIdentifier = "FAILS";
  asset.record.creationDate = 3.0;
  asset.record.mediaType = PhotoStore::kImage;
  MemoryPhotoStore::StoredFile file;
  file.file = {ResourceType::photo, "IMG_FAILS.JPG", "public.jpeg", "FAILS"};
  file.data = std::string(100, 'x');
  file.failure = "the disk went away";
  file.failAfter = 40;
  asset.files.push_back(file);
  store_.add(asset);
  store_.setPieceBytes(10);
  HttpRequest request;
  request.method = "GET";
  request.path = "/v1/assets/" + PhotoLibrary::wireId("FAILS") + "/res/photo";
  request.headers["authorization"] = "Bearer " + kToken;
  StringSink sink;
  EXPECT_ANY_THROW(api_.route(request, sink));
  EXPECT_EQ(transfers_->events,
            (std::vector<std::string>{"began " + PhotoLibrary::wireId("FAILS"), "ended 40"}));
}

// A sink whose laptop hangs up once `left` bytes have gone out.
class HangingUpSink : public ByteSink {
 public:
  explicit HangingUpSink(std::size_t left) : left_(left) {}
  void send(std::string_view bytes) override {
    if (bytes.size() > left_) throw ConnectionClosed();
    left_ -= bytes.size();
  }

 private:
  std::size_t left_;
};

TEST_F(AssetsTest, ALaptopThatHangsUpMidFileIsNotCountedAsHavingIt) {
  const std::string id = addPhoto("CUT", 6.0, std::string(100, 'c'));
  store_.setPieceBytes(10);
  HttpRequest request;
  request.method = "GET";
  request.path = "/v1/assets/" + id + "/res/photo";
  request.headers["authorization"] = "Bearer " + kToken;
  StringSink whole;
  api_.route(request, whole);
  ASSERT_EQ(transfers_->events.back(), "ended 100 whole");
  const std::size_t body = whole.sent.find("\r\n\r\n") + 4;
  const std::size_t frame = Http::chunkHead(10).size() + 10 + Http::chunkEnd.size();
  struct Case {
    std::string label;
    std::size_t hangsUpAfter;  // bytes taken before the laptop is gone
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"in the head", body - 1, {}},
      {"after three pieces", body + 3 * frame, {"began " + id, "ended 30"}},
      {"before the last chunk", whole.sent.size() - Http::lastChunk.size(), {"began " + id, "ended 100"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    transfers_->events.clear();
    HangingUpSink sink(c.hangsUpAfter);
    EXPECT_THROW(api_.route(request, sink), ConnectionClosed);
    EXPECT_EQ(transfers_->events, c.events);
  }
}

// Records the size each thumbnail is asked at.
class SizeRecordingLibrary : public Library {
 public:
  Page page(std::optional<std::string_view>, std::int64_t) const override { return {}; }
  std::optional<Asset> asset(std::string_view) const override { return std::nullopt; }
  std::optional<std::string> thumbnail(std::string_view id, std::int64_t px) const override {
    asked.push_back(px);
    if (id == "none") return std::nullopt;
    return std::string("\xFF\xD8jpeg", 6);
  }
  std::unique_ptr<Opened> open(std::string_view, std::string_view) const override { return nullptr; }
  mutable std::vector<std::int64_t> asked;
};

TEST(AssetsThumb, SizeIsClampedAndTheImageSentWithItsLength) {
  testing::TemporaryFolder folder("thumb");
  Laptops laptops(folder.path() + "/laptops.json");
  laptops.add("laptop", "", kToken, systemNow());
  Pairing pairing(std::string(64, 'a'));
  SizeRecordingLibrary library;
  Api api(pairing, laptops, library, {});
  const auto thumb = [&](const std::string& id, std::optional<std::string> px) {
    HttpRequest request;
    request.method = "GET";
    request.path = "/v1/assets/" + id + "/thumb";
    if (px) request.query["px"] = *px;
    request.headers["authorization"] = "Bearer " + kToken;
    StringSink sink;
    api.route(request, sink);
    return sink.sent;
  };
  const std::vector<std::pair<std::optional<std::string>, std::int64_t>> sizes = {
      {std::nullopt, 200}, {"10", 32}, {"32", 32}, {"33", 33}, {"511", 511},
      {"9999", 512},       {"abc", 200}, {"", 200}, {"-5", 32}};
  for (const auto& [px, expected] : sizes) {
    SCOPED_TRACE(px.value_or("none"));
    library.asked.clear();
    EXPECT_EQ(thumb("abc", px),
              std::string("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: 6\r\n\r\n\xFF\xD8jpeg", 70));
    EXPECT_EQ(library.asked, std::vector<std::int64_t>{expected});
  }
  try {
    thumb("none", std::nullopt);
    ADD_FAILURE() << "expected 404";
  } catch (const HttpError& error) {
    EXPECT_EQ(error.status, 404);
    EXPECT_EQ(error.message, "There is no thumbnail for that photo.");
  }
}

}  // namespace
}  // namespace lumenvale
