// Tests of streaming one file through PhotoResource over the in-memory store:
// resumed reads, the chunks handed over, a failing consumer stopping the
// store, the store's own failures and cloud progress.
#include "library/photo_resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "support/memory_photo_store.h"

namespace lumenvale {
namespace {

using testing::MemoryPhotoStore;
using Delivery = MemoryPhotoStore::Delivery;

// What a consumer throws when the laptop has gone away.
struct SinkGone : std::runtime_error {
  SinkGone() : std::runtime_error("the laptop went away") {}
};

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return bytes;
}

// A store holding one file, and a resource open on it.
struct OneFile {
  explicit OneFile(std::string data, std::function<void(MemoryPhotoStore::StoredFile&)> change = nullptr) {
    MemoryPhotoStore::StoredAsset asset;
    asset.record.localIdentifier = "asset";
    asset.record.mediaType = PhotoStore::kImage;
    MemoryPhotoStore::StoredFile stored;
    stored.file = PhotoStore::File{ResourceType::photo, "IMG_0001.HEIC", "public.heic", "the-file"};
    stored.data = std::move(data);
    if (change) change(stored);
    asset.files.push_back(stored);
    store.add(asset);
  }

  PhotoResource open(std::function<void(double)> onCloud = nullptr) {
    return PhotoResource(store, PhotoStore::File{ResourceType::photo, "IMG_0001.HEIC", "public.heic", "the-file"},
                         "image/heic", "\"etag\"", std::move(onCloud));
  }

  MemoryPhotoStore store;
};

TEST(PhotoResourceRead, FromAnOffsetGivesExactlyTheBytesAfterIt) {
  struct File {
    std::size_t size;
    std::size_t pieceBytes;
    std::vector<std::int64_t> froms;
  };
  constexpr std::int64_t kMiB = 1048576;
  const std::vector<File> files = {
      {10, 4, {0, 1, 3, 4, 5, 9, 10, 11, 50}},
      {3 * kMiB + 1, kMiB, {0, 1, kMiB - 1, kMiB, kMiB + 1, 3 * kMiB, 3 * kMiB + 1, 4 * kMiB}},
      {3 * kMiB + 1, 700000, {699999, 700000, 700001, 2 * kMiB + 5}},
      {0, 4, {0, 1}},
  };
  for (const File& f : files) {
    const std::string data = pattern(f.size);
    for (const bool seekable : {false, true}) {
      for (const Delivery delivery : {Delivery::inline_, Delivery::thread}) {
        OneFile one(data);
        one.store.setSeekable(seekable);
        one.store.setPieceBytes(f.pieceBytes);
        one.store.setDelivery(delivery);
        PhotoResource resource = one.open();
        for (const std::int64_t from : f.froms) {
          SCOPED_TRACE("size " + std::to_string(f.size) + ", pieces of " + std::to_string(f.pieceBytes) +
                       (seekable ? ", seekable" : ", from the start") +
                       (delivery == Delivery::thread ? ", threaded" : ", inline") + ", from " + std::to_string(from));
          std::string got;
          std::size_t largest = 0;
          bool emptyChunk = false;
          const std::int64_t size = resource.read(
              [&](std::string_view chunk) {
                emptyChunk = emptyChunk || chunk.empty();
                largest = std::max(largest, chunk.size());
                got.append(chunk);
              },
              from);
          EXPECT_EQ(size, static_cast<std::int64_t>(f.size));
          EXPECT_TRUE(got == data.substr(std::min<std::size_t>(static_cast<std::size_t>(from), data.size())))
              << "got " << got.size() << " bytes";
          EXPECT_FALSE(emptyChunk);
          EXPECT_LE(largest, static_cast<std::size_t>(kMiB));
          EXPECT_EQ(one.store.requests().back().from, seekable ? from : 0);
        }
      }
    }
  }
}

TEST(PhotoResourceRead, AFailingConsumerStopsTheStore) {
  OneFile one(pattern(40));
  one.store.setPieceBytes(4);
  one.store.pace(true);
  PhotoResource resource = one.open();

  std::atomic<int> calls = 0;
  std::exception_ptr failure;
  std::thread reader([&] {
    try {
      resource.read([&](std::string_view) {
        ++calls;
        throw SinkGone();
      });
    } catch (...) {
      failure = std::current_exception();
    }
  });
  ASSERT_TRUE(one.store.waitUntil([](const auto& logs) { return logs.size() == 1; }));
  one.store.release(1);
  // Whether the consumer failed before or after the request's identifier was
  // known, the store is cancelled without another piece being let go.
  EXPECT_TRUE(one.store.waitUntil([](const auto& logs) { return logs[0].cancelled; }));
  one.store.release(100);
  reader.join();

  EXPECT_EQ(calls, 1);
  EXPECT_EQ(one.store.requests()[0].pieces, 1);
  ASSERT_TRUE(failure);
  EXPECT_THROW(std::rethrow_exception(failure), SinkGone);
}

TEST(PhotoResourceRead, FailuresAndProgress) {
  struct Case {
    const char* name;
    std::function<void(MemoryPhotoStore::StoredFile&)> file;
    int failOnChunk;  // the consumer throws on this chunk (1-based); 0 never
    std::string handed;
    enum { none, consumer, store } failure;
  };
  const auto cloudFailure = [](MemoryPhotoStore::StoredFile& f) {
    f.failure = "The photo could not be downloaded.";
    f.failAfter = 6;
  };
  const std::vector<Case> cases = {
      {"the store fails part way: what came stays handed over", cloudFailure, 0, "012345", Case::store},
      {"the consumer fails first: its failure wins", cloudFailure, 1, "0123", Case::consumer},
      {"the consumer fails on a later chunk", nullptr, 2, "01234567", Case::consumer},
      {"a whole read", nullptr, 0, "0123456789", Case::none},
  };
  for (const Delivery delivery : {Delivery::inline_, Delivery::thread}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (delivery == Delivery::thread ? ", threaded" : ", inline"));
      OneFile one("0123456789", c.file);
      one.store.setPieceBytes(4);
      one.store.setDelivery(delivery);
      PhotoResource resource = one.open();
      std::string handed;
      int chunks = 0;
      const auto consume = [&](std::string_view chunk) {
        handed.append(chunk);
        if (++chunks == c.failOnChunk) throw SinkGone();
      };
      switch (c.failure) {
        case Case::none:
          EXPECT_EQ(resource.read(consume), 10);
          break;
        case Case::consumer:
          EXPECT_THROW(resource.read(consume), SinkGone);
          break;
        case Case::store:
          try {
            resource.read(consume);
            ADD_FAILURE() << "the read succeeded";
          } catch (const ResourceReadError& error) {
            EXPECT_STREQ(error.what(), "The photo could not be downloaded.");
          }
          break;
      }
      EXPECT_EQ(handed, c.handed);
    }
  }
}

TEST(PhotoResourceRead, ReportsCloudProgress) {
  OneFile one("0123456789", [](MemoryPhotoStore::StoredFile& f) { f.inCloud = true; });
  std::vector<double> progress;
  std::mutex lock;
  PhotoResource resource = one.open([&](double fraction) {
    std::lock_guard<std::mutex> hold(lock);
    progress.push_back(fraction);
  });
  std::string got;
  EXPECT_EQ(resource.read([&](std::string_view chunk) { got.append(chunk); }), 10);
  EXPECT_EQ(got, "0123456789");
  EXPECT_EQ(progress, (std::vector<double>{0.0, 0.5, 1.0}));
  EXPECT_EQ(resource.mime(), "image/heic");
  EXPECT_EQ(resource.etag(), "\"etag\"");
}

// A store whose file system stopped answering: it never hands over a byte
// nor completes, until cancelled.
class StalledStore : public MemoryPhotoStore {
 public:
  RequestId requestData(const File&, DataRequest request) override {
    std::lock_guard hold(mutex_);
    request_ = std::move(request);
    return 7;
  }
  void cancelDataRequest(RequestId id) override {
    std::lock_guard hold(mutex_);
    cancelled_.push_back(id);
  }
  std::vector<RequestId> cancelled() const {
    std::lock_guard hold(mutex_);
    return cancelled_;
  }

 private:
  mutable std::mutex mutex_;
  DataRequest request_;
  std::vector<RequestId> cancelled_;
};

TEST(PhotoResourceRead, AStoreThatStopsAnsweringFailsTheReadInsteadOfHoldingIt) {
  StalledStore store;
  PhotoResource resource(store, PhotoStore::File{ResourceType::photo, "IMG_0001.HEIC", "public.heic", "x"},
                         "image/heic", "\"etag\"", nullptr, std::chrono::milliseconds(300));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(resource.read([](std::string_view) {}), ResourceReadError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(store.cancelled(), std::vector<PhotoStore::RequestId>{7});
}

}  // namespace
}  // namespace lumenvale
