// Tests of the photo library over the in-memory store: wire ids, the listing
// followed page by page, assets as built from the store, opening resources
// with their ETags, thumbnails and the bulk queries.
#include "library/photo_library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>

#include "support/memory_photo_store.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using testing::MemoryPhotoStore;

// 2024-05-01 12:03:59 UTC.
constexpr Instant kMay1 = 736257839.0;

MemoryPhotoStore::StoredFile file(ResourceType type, std::string name, std::string data = "bytes") {
  static int next = 0;
  MemoryPhotoStore::StoredFile stored;
  stored.file = PhotoStore::File{type, std::move(name), "", "file-" + std::to_string(++next)};
  stored.data = std::move(data);
  return stored;
}

MemoryPhotoStore::StoredAsset photo(std::string local, std::optional<Instant> created,
                                    std::optional<Instant> modified = std::nullopt) {
  MemoryPhotoStore::StoredAsset asset;
  asset.record = PhotoStore::Record{std::move(local), created, modified, PhotoStore::kImage, 4032, 3024, 0, std::nullopt};
  asset.files = {file(ResourceType::photo, "IMG_0001.HEIC")};
  return asset;
}

MemoryPhotoStore::StoredAsset video(std::string local, std::optional<Instant> created, double seconds) {
  MemoryPhotoStore::StoredAsset asset;
  asset.record = PhotoStore::Record{std::move(local), created, created, PhotoStore::kVideo, 1920, 1080, seconds, std::nullopt};
  asset.files = {file(ResourceType::video, "IMG_0002.MOV")};
  return asset;
}

std::string id(const std::string& local) { return PhotoLibrary::wireId(local); }

std::string utc() { return "UTC"; }

// The ETag computed here from the primitives, not through the library.
std::string etagOf(const std::string& text) {
  std::string quoted(1, '"');
  quoted.append(Bytes::hex(Crypto::sha256(text)).substr(0, 32)).push_back('"');
  return quoted;
}

TEST(PhotoLibraryIds, ReadBackOnlyWhatTheEncodingWrites) {
  const std::string local = "9F983DBA-EC35-42B8-8773-B597CF782EDD/L0/001";
  EXPECT_EQ(PhotoLibrary::localIdentifier(id(local)), local);
  EXPECT_EQ(id(local).size(), 58u);
  EXPECT_EQ(PhotoLibrary::localIdentifier(id("caf\xC3\xA9 \xF0\x9F\x93\xB7")), "caf\xC3\xA9 \xF0\x9F\x93\xB7");
  EXPECT_EQ(PhotoLibrary::localIdentifier(id(std::string(96, '?'))), std::string(96, '?'));  // 128 characters

  const std::vector<std::pair<const char*, std::string>> refused = {
      {"empty", ""},
      {"129 characters", std::string(129, 'A')},
      {"a padding sign", "QUJD="},
      {"a slash", "QU/D"},
      {"a plus", "QU+D"},
      {"a space", "QU D"},
      {"a dot, allowed on the wire but not Base64", "QU.D"},
      {"a length that leaves a lone character", "QUJDR"},
      {"bytes that are not UTF-8", Crypto::base64Url("\xFF\xFE\xFD")},
      {"a truncated UTF-8 sequence", Crypto::base64Url("ab\xC3")},
      // id("A") is "QQ" and id("AB") is "QUI": these differ only in the bits
      // past the last byte, so they would name the same asset.
      {"bits past the last of one byte", "QR"},
      {"bits past the last of two bytes", "QUJ"},
  };
  for (const auto& [name, wire] : refused) {
    SCOPED_TRACE(name);
    EXPECT_EQ(PhotoLibrary::localIdentifier(wire), std::nullopt);
  }
}

// Follows `next` from the start and returns the ids in the order listed,
// checking that only the last page falls short of the limit.
std::vector<std::string> listAll(const PhotoLibrary& library, std::int64_t limit) {
  std::vector<std::string> ids;
  std::optional<std::string> after;
  for (int pages = 0; pages < 10000; ++pages) {
    const Page page = library.page(after, limit);
    for (const Asset& asset : page.assets) ids.push_back(asset.id);
    if (!page.next) return ids;
    EXPECT_EQ(static_cast<std::int64_t>(page.assets.size()), limit) << "a short page before the end";
    after = page.next;
  }
  ADD_FAILURE() << "the listing never ended";
  return ids;
}

TEST(PhotoLibraryListing, FollowingNextGivesEveryAssetOnceNewestFirst) {
  struct Library {
    const char* name;
    std::vector<MemoryPhotoStore::StoredAsset> assets;
  };
  const auto burst = [](const std::string& prefix, int size, std::optional<Instant> at) {
    std::vector<MemoryPhotoStore::StoredAsset> assets;
    for (int i = 0; i < size; ++i) assets.push_back(photo(std::string(prefix).append(std::to_string(i)), at));
    return assets;
  };
  const auto joined = [](std::initializer_list<std::vector<MemoryPhotoStore::StoredAsset>> parts) {
    std::vector<MemoryPhotoStore::StoredAsset> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  std::vector<Library> libraries = {
      {"empty", {}},
      {"one", {photo("a", kMay1)}},
      {"mixed",
       joined({burst("old", 3, kMay1 - 86400),                   // added first, listed late
               {photo("p1", kMay1), video("v1", kMay1 + 5, 7.25), photo("p2", kMay1 + 10)},
               burst("burst", 9, kMay1 + 1),                      // nine shots in one second
               burst("undated", 4, std::nullopt),
               burst("twin", 2, kMay1 - 1),
               burst("moreundated", 3, std::nullopt),
               {photo("late", kMay1 + 0.5), video("v2", std::nullopt, 1)}})},
      {"all in one second", burst("s", 23, kMay1)},
      {"all undated", burst("u", 11, std::nullopt)},
      {"a run longer than every limit but the last", joined({burst("r", 510, kMay1), burst("n", 3, std::nullopt)})},
  };
  // Never listed: audio, and assets shared with the owner or synced from elsewhere.
  MemoryPhotoStore::StoredAsset audio = photo("audio", kMay1 + 3);
  audio.record.mediaType = PhotoStore::kAudio;
  MemoryPhotoStore::StoredAsset shared = photo("shared", kMay1 + 3);
  shared.sourceType = 2;

  for (const Library& library : libraries) {
    MemoryPhotoStore store;
    for (const auto& asset : library.assets) store.add(asset);
    store.add(audio);
    store.add(shared);
    std::vector<MemoryPhotoStore::StoredAsset> sorted = library.assets;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
      const auto& x = a.record.creationDate;
      const auto& y = b.record.creationDate;
      if (x.has_value() != y.has_value()) return x.has_value();
      if (x && *x != *y) return *x > *y;
      return a.record.localIdentifier > b.record.localIdentifier;
    });
    std::vector<std::string> expected;
    for (const auto& asset : sorted) expected.push_back(id(asset.record.localIdentifier));

    const PhotoLibrary photos(store, nullptr, utc);
    for (const std::int64_t limit : {1, 2, 7, 500}) {
      SCOPED_TRACE(std::string(library.name) + ", limit " + std::to_string(limit));
      EXPECT_EQ(listAll(photos, limit), expected);
    }
  }
}

// Photos of one second come and go while a laptop walks the listing (a
// burst being taken, or deleted on the device). Every photo that stayed
// from the first page to the last is listed exactly once, and no photo is
// ever listed twice, whatever came or went around it.
TEST(PhotoLibraryListing, AssetsOfOneSecondComingAndGoingBetweenPages) {
  struct Case {
    const char* name;
    std::optional<Instant> at;
    std::int64_t limit;
    unsigned seed;
  };
  const std::vector<Case> cases = {
      {"one second, pages of 3", kMay1, 3, 1},
      {"one second, pages of 1", kMay1, 1, 2},
      {"one second, pages of 7", kMay1, 7, 3},
      {"undated, pages of 3", std::nullopt, 3, 4},
      {"undated, pages of 2", std::nullopt, 2, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryPhotoStore store;
    std::mt19937 random(c.seed);
    std::vector<std::string> present;
    int made = 0;
    const auto add = [&] {
      // Identifiers in no particular order, so new ones land anywhere in the run.
      char prefix[9];
      std::snprintf(prefix, sizeof prefix, "%08x", static_cast<unsigned>(random()));
      const std::string local = std::string(prefix) + "-" + std::to_string(++made);
      store.add(photo(local, c.at));
      present.push_back(local);
    };
    for (int i = 0; i < 40; ++i) add();
    store.add(photo("newer", kMay1 + 10));
    store.add(photo("older", kMay1 - 10));
    const PhotoLibrary photos(store, nullptr, utc);

    std::set<std::string> stayed(present.begin(), present.end());
    stayed.insert({"newer", "older"});
    std::multiset<std::string> listed;
    std::optional<std::string> after;
    for (int pages = 0; pages < 200; ++pages) {
      const Page page = photos.page(after, c.limit);
      for (const Asset& asset : page.assets) listed.insert(*PhotoLibrary::localIdentifier(asset.id));
      if (!page.next) break;
      after = page.next;
      // Between pages: one photo of that second goes, one or two come.
      const std::size_t gone = random() % present.size();
      const std::vector<PhotoStore::Deletion> deleted = store.deleteAssets({present[gone]});
      ASSERT_EQ(deleted.size(), 1u);
      ASSERT_FALSE(deleted[0].kept.has_value());
      stayed.erase(present[gone]);
      present.erase(present.begin() + static_cast<std::ptrdiff_t>(gone));
      add();
      if (random() % 2 == 0) add();
    }
    for (const std::string& local : listed) EXPECT_EQ(listed.count(local), 1u) << "repeated: " << local;
    for (const std::string& local : stayed) EXPECT_EQ(listed.count(local), 1u) << "missed: " << local;
  }
}

TEST(PhotoLibraryListing, BuildsOnlyThePageAndRefusesBadCursors) {
  MemoryPhotoStore store;
  for (int i = 0; i < 50; ++i) store.add(photo(std::to_string(i), kMay1 - i));
  const PhotoLibrary photos(store, nullptr, utc);
  const Page page = photos.page(std::nullopt, 7);
  EXPECT_EQ(page.assets.size(), 7u);
  EXPECT_EQ(store.resourceLookups(), 7);
  EXPECT_EQ(page.next, Rows::format(Rows::Cursor::datedAfter(kMay1 - 6, "6")));
  for (const char* bad : {"t1", "", "u-1", "nonsense"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(photos.page(std::string_view(bad), 7), LibraryError);
  }
}

TEST(PhotoLibraryAssets, BuiltFromTheStore) {
  struct Case {
    const char* name;
    MemoryPhotoStore::StoredAsset stored;
    std::string zone;
    Asset expected;
  };
  auto edited = photo("edited", kMay1, kMay1 + 3600);
  edited.files.push_back(file(ResourceType::fullSizePhoto, "FullSizeRender.jpg"));
  auto editedNoDate = photo("edited-no-date", kMay1, std::nullopt);
  editedNoDate.files.push_back(file(ResourceType::fullSizePhoto, "FullSizeRender.jpg"));
  auto live = photo("live", kMay1, kMay1);
  live.files.push_back(file(ResourceType::pairedVideo, "IMG_0001.MOV"));
  live.files.push_back(file(ResourceType::adjustmentData, "Adjustments.plist"));
  const Resource heic{"photo", "IMG_0001.HEIC", "image/heic", std::nullopt};
  const Resource jpeg{"edited", "IMG_E0001.jpg", "image/jpeg", std::nullopt};
  const Resource mov{"video", "IMG_0001.MOV", "video/quicktime", std::nullopt};

  const std::vector<Case> cases = {
      {"no dates at all: the Unix epoch", photo("undated", std::nullopt, std::nullopt), "UTC",
       {id("undated"), "photo", "1970-01-01T00:00:00Z", "1970-01-01T00:00:00Z", 4032, 3024, std::nullopt, {heic}}},
      {"no dates, written in the asked zone", photo("undated", std::nullopt, std::nullopt), "Europe/Paris",
       {id("undated"), "photo", "1970-01-01T01:00:00+01:00", "1970-01-01T01:00:00+01:00", 4032, 3024, std::nullopt,
        {heic}}},
      {"no creation date: the modification date", photo("m", std::nullopt, kMay1), "UTC",
       {id("m"), "photo", "2024-05-01T12:03:59Z", "2024-05-01T12:03:59Z", 4032, 3024, std::nullopt, {heic}}},
      {"unedited: a later modification is not a new version", photo("u", kMay1, kMay1 + 3600), "UTC",
       {id("u"), "photo", "2024-05-01T12:03:59Z", "2024-05-01T12:03:59Z", 4032, 3024, std::nullopt, {heic}}},
      {"edited: the modification is the version", edited, "Europe/Berlin",
       {id("edited"), "photo", "2024-05-01T14:03:59+02:00", "2024-05-01T15:03:59+02:00", 4032, 3024, std::nullopt,
        {heic, jpeg}}},
      {"edited without a modification date", editedNoDate, "UTC",
       {id("edited-no-date"), "photo", "2024-05-01T12:03:59Z", "2024-05-01T12:03:59Z", 4032, 3024, std::nullopt,
        {heic, jpeg}}},
      {"a Live Photo", live, "UTC",
       {id("live"), "live", "2024-05-01T12:03:59Z", "2024-05-01T12:03:59Z", 4032, 3024, std::nullopt, {heic, mov}}},
      {"a video has its duration", video("v", kMay1, 7.25), "UTC",
       {id("v"), "video", "2024-05-01T12:03:59Z", "2024-05-01T12:03:59Z", 1920, 1080, 7.25,
        {{"video", "IMG_0002.MOV", "video/quicktime", std::nullopt}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryPhotoStore store;
    store.add(c.stored);
    const PhotoLibrary photos(store, nullptr, [zone = c.zone] { return zone; });
    EXPECT_EQ(photos.asset(c.expected.id), c.expected);
    const Page page = photos.page(std::nullopt, 10);
    ASSERT_EQ(page.assets.size(), 1u);
    EXPECT_EQ(page.assets[0], c.expected);
  }
  MemoryPhotoStore store;
  const PhotoLibrary photos(store, nullptr, utc);
  EXPECT_EQ(photos.asset(id("gone")), std::nullopt);
  EXPECT_EQ(photos.asset("QU/D"), std::nullopt);
}

TEST(PhotoLibraryOpen, FindsTheListedFileWithItsETag) {
  MemoryPhotoStore store;
  auto asset = photo("IMG-1/L0/001", kMay1, kMay1 + 60);
  asset.files.insert(asset.files.begin(), file(ResourceType::adjustmentData, "Adjustments.plist", "adj"));
  asset.files.push_back(file(ResourceType::photo, "second.jpg", "second"));
  asset.files.push_back(file(ResourceType::pairedVideo, "IMG_0001.MOV", "movie"));
  asset.files[1].data = "first";
  store.add(asset);
  const PhotoLibrary photos(store, nullptr, [] { return std::string("Asia/Tokyo"); });
  const std::string wire = id("IMG-1/L0/001");

  const auto readAll = [](Opened& opened) {
    std::string bytes;
    opened.read([&](std::string_view chunk) { bytes.append(chunk); });
    return bytes;
  };
  const std::unique_ptr<Opened> still = photos.open(wire, "photo");
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(readAll(*still), "first");
  EXPECT_EQ(still->mime(), "image/heic");
  // Keyed on the UTC modified text whatever the device's zone.
  const std::string expected = etagOf("IMG-1/L0/001|photo|2024-05-01T12:03:59Z");
  EXPECT_EQ(still->etag(), expected);
  EXPECT_EQ(photos.open(wire, "photo")->etag(), expected);

  const std::unique_ptr<Opened> movie = photos.open(wire, "video");
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(readAll(*movie), "movie");
  EXPECT_NE(movie->etag(), expected);

  for (const auto& [name, asked, rid] : std::vector<std::tuple<const char*, std::string, const char*>>{
           {"an edit the asset does not have", wire, "edited"},
           {"a rid differing in case", wire, "Photo"},
           {"an unknown asset", id("nope"), "photo"},
           {"an id that does not decode", "QU/D", "photo"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(photos.open(asked, rid), nullptr);
  }

  // An edit makes every ETag of the asset new.
  store.addFile("IMG-1/L0/001", file(ResourceType::fullSizePhoto, "FullSizeRender.jpg", "edit"));
  EXPECT_NE(photos.open(wire, "photo")->etag(), expected);
  const std::unique_ptr<Opened> edit = photos.open(wire, "edited");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(readAll(*edit), "edit");
  EXPECT_EQ(edit->etag(), etagOf("IMG-1/L0/001|edited|2024-05-01T12:04:59Z"));
}

TEST(PhotoLibraryImages, FitKeepsTheLongestSideWithinTheSize) {
  MemoryPhotoStore store;
  const PhotoLibrary photos(store, nullptr, utc);
  struct Case {
    double width, height, scale;
    std::int64_t px;
    double expectedWidth, expectedHeight;
    bool unchanged;
  };
  const std::vector<Case> cases = {
      {4000, 3000, 1, 200, 200, 150, false},
      {3, 1000, 1, 100, 1, 100, false},  // never 0 pixels wide
      {150, 100, 1, 200, 150, 100, true},
      {200, 100, 1, 200, 200, 100, true},
      {2000, 1500, 2, 200, 200, 150, false},  // points times scale are the pixels
      {1000, 333, 1, 100, 100, 33, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " to " + std::to_string(c.px));
    const auto image = std::make_shared<MemoryPhotoStore::FakeImage>(c.width, c.height, c.scale);
    const PhotoStore::ImagePtr fitted = photos.fit(image, c.px);
    ASSERT_NE(fitted, nullptr);
    EXPECT_EQ(fitted->width() * fitted->scale(), c.expectedWidth);
    EXPECT_EQ(fitted->height() * fitted->scale(), c.expectedHeight);
    EXPECT_EQ(fitted == image, c.unchanged);
  }
}

TEST(PhotoLibraryImages, Thumbnails) {
  MemoryPhotoStore store;
  store.add(photo("big", kMay1));
  auto small = photo("small", kMay1);
  small.record.pixelWidth = 150;
  small.record.pixelHeight = 100;
  store.add(small);
  auto blank = photo("blank", kMay1);
  blank.hasImage = false;
  store.add(blank);
  const PhotoLibrary photos(store, nullptr, utc);

  EXPECT_EQ(photos.thumbnail(id("big"), 200), "JPEG 200x150 q80");
  const std::optional<PhotoStore::ImageRequest> asked = store.lastImageRequest();
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->targetSize, 200);
  EXPECT_EQ(asked->contentMode, PhotoStore::ContentMode::fit);
  EXPECT_TRUE(asked->synchronous);
  EXPECT_TRUE(asked->networkAccessAllowed);
  EXPECT_EQ(asked->deliveryMode, PhotoStore::DeliveryMode::highQuality);
  EXPECT_EQ(asked->resizeMode, PhotoStore::ResizeMode::fast);

  EXPECT_EQ(photos.thumbnail(id("small"), 200), "JPEG 150x100 q80");
  EXPECT_EQ(photos.thumbnail(id("blank"), 200), std::nullopt);
  EXPECT_EQ(photos.thumbnail(id("gone"), 200), std::nullopt);
  store.setJpegFails(true);
  EXPECT_EQ(photos.thumbnail(id("big"), 200), std::nullopt);
}

TEST(PhotoLibraryImages, PreviewAsksWithoutDownloading) {
  MemoryPhotoStore store;
  store.add(photo("big", kMay1));
  const PhotoLibrary photos(store, nullptr, utc);

  bool answered = false;
  photos.preview(id("gone"), 100, true, [&](PhotoStore::ImagePtr image) {
    answered = true;
    EXPECT_EQ(image, nullptr);
  });
  EXPECT_TRUE(answered);

  std::mutex lock;
  std::condition_variable arrived;
  PhotoStore::ImagePtr got;
  photos.preview(id("big"), 100, true, [&](PhotoStore::ImagePtr image) {
    std::lock_guard<std::mutex> hold(lock);
    got = std::move(image);
    arrived.notify_all();
  });
  std::unique_lock<std::mutex> hold(lock);
  ASSERT_TRUE(arrived.wait_for(hold, std::chrono::seconds(10), [&] { return got != nullptr; }));
  const std::optional<PhotoStore::ImageRequest> asked = store.lastImageRequest();
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->contentMode, PhotoStore::ContentMode::fill);
  EXPECT_FALSE(asked->synchronous);
  EXPECT_FALSE(asked->networkAccessAllowed);
}

TEST(PhotoLibraryBulk, VersionsInBatchesOf500) {
  MemoryPhotoStore store;
  std::vector<std::string> ids;
  for (int i = 0; i < 1200; ++i) {
    const std::string local = std::string("asset-").append(std::to_string(i));
    store.add(photo(local, kMay1 + i));
    ids.push_back(id(local));
  }
  auto edited = photo("edited", kMay1, kMay1 + 60);
  edited.files.push_back(file(ResourceType::fullSizePhoto, "r.jpg"));
  store.add(edited);
  const PhotoLibrary photos(store, nullptr, [] { return std::string("Europe/Berlin"); });

  const std::map<std::string, std::string> versions = photos.versions(ids);
  EXPECT_EQ(store.identifierFetches(), (std::vector<std::size_t>{500, 500, 200}));
  EXPECT_EQ(versions.size(), 1200u);
  EXPECT_EQ(versions.at(id("asset-0")), "2024-05-01T14:03:59+02:00");
  EXPECT_EQ(versions.at(id("asset-1199")), Rows::time(kMay1 + 1199, "Europe/Berlin"));

  const std::map<std::string, std::string> mixed = photos.versions({id("edited"), "QU/D", id("gone"), ""});
  EXPECT_EQ(mixed, (std::map<std::string, std::string>{{id("edited"), "2024-05-01T14:04:59+02:00"}}));
}

TEST(PhotoLibraryBulk, TakenSortsCreationInstants) {
  MemoryPhotoStore store;
  store.add(photo("newer", kMay1 + 10));
  store.add(photo("older", kMay1));
  store.add(photo("undated", std::nullopt, kMay1));
  const PhotoLibrary photos(store, nullptr, utc);
  EXPECT_EQ(photos.taken({id("newer"), "QU/D", id("older"), id("undated"), id("gone")}),
            (std::vector<Instant>{kMay1, kMay1 + 10}));
  EXPECT_TRUE(photos.taken({id("undated")}).empty());
  EXPECT_TRUE(photos.taken({}).empty());
}

}  // namespace
}  // namespace lumenvale
