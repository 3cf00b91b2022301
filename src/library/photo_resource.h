// One file of the photo store opened for streaming: the Opened that the
// photo library returns. Lives for one request; the store must outlive it.
// read() blocks its caller while the store delivers on its own thread; one
// read at a time per object.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "library/library.h"
#include "library/photo_store.h"

namespace lumenvale {

class PhotoResource : public Opened {
 public:
  // A read that gets no byte from the store for this long (a stalled
  // network mount, a dying card) fails, so that one file cannot hold a
  // connection for good. Time spent in the consumer does not count.
  static constexpr std::chrono::milliseconds kMaxStall{30'000};

  PhotoResource(PhotoStore& store, PhotoStore::File file, std::string mime, std::string etag,
                std::function<void(double)> onCloud, std::chrono::milliseconds maxStall = kMaxStall);

  std::string mime() const override { return mime_; }
  std::string etag() const override { return etag_; }

  // read streams the file through a Pump. A store that cannot seek delivers
  // from byte 0 and the bytes before `from` are dropped here; a store that
  // can starts at `from`. Chunks are never empty: an empty chunk would end a
  // chunked HTTP body early.
  std::int64_t read(const Consumer& consume, std::int64_t from = 0) override;

  const PhotoStore::File& file() const { return file_; }

 private:
  PhotoStore& store_;
  PhotoStore::File file_;
  std::string mime_;
  std::string etag_;
  std::function<void(double)> onCloud_;
  std::chrono::milliseconds maxStall_;
};

}  // namespace lumenvale
