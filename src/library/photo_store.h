// The platform's photo store as the photo library uses it: fetching assets by
// identifier or by a date predicate in creation order, their files, the
// bytes of one file in chunks, pictures at a size, deletion and counts.
// Implemented over a folder of files in platform/ and in memory for tests.
// Every operation may be called from any thread, several at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/asset.h"
#include "library/resource_type.h"

namespace lumenvale {

class PhotoStore {
 public:
  // The store's media type codes.
  static constexpr int kImage = 1;
  static constexpr int kVideo = 2;
  static constexpr int kAudio = 3;

  // The one source type the listing includes: the owner's own library, not
  // shared albums or assets synced from elsewhere.
  static constexpr int kUserLibrary = 1;

  // The largest chunk a data request hands over at once.
  static constexpr std::size_t kMaxChunkBytes = 1048576;

  using RequestId = std::int32_t;

  // One asset's properties, as fetched.
  struct Record {
    std::string localIdentifier;            // opaque, stable, unique
    std::optional<Instant> creationDate;
    std::optional<Instant> modificationDate;
    int mediaType = 0;                       // kImage, kVideo, kAudio or another code
    std::int64_t pixelWidth = 0;
    std::int64_t pixelHeight = 0;
    double duration = 0;                     // seconds
    // versionDate is the store's own version of the asset's files, when it
    // keeps one: it moves whenever any of them changes, and is then what
    // laptops are shown as the asset's modification.
    std::optional<Instant> versionDate;
  };

  // One file of an asset. `locator` is the store's own handle for finding
  // the file again (a folder store: its path); the library never reads it.
  struct File {
    ResourceType type = ResourceType::photo;
    std::string originalFilename;
    std::string uniformTypeIdentifier;
    std::string locator;
  };

  // What a fetch keeps. Every condition given must hold.
  struct Predicate {
    std::vector<int> mediaTypes;                 // empty: any media type
    enum class Created { any, none, atOrBefore } created = Created::any;
    Instant createdAtOrBefore = 0;               // for Created::atOrBefore: this date or none
    int sourceTypes = kUserLibrary;
  };

  // The assets of one fetch, sorted by creation date, newest first; assets
  // without a creation date come after every dated one, and assets with
  // equal creation dates (or none) are ordered by local identifier,
  // descending, compared as bytes, so that a listing's cursor can name its
  // place among them. Reading positions must stay cheap: a listing touches
  // only a page and a few positions to find its place.
  class FetchResult {
   public:
    virtual ~FetchResult() = default;
    virtual std::int64_t count() const = 0;
    // at returns the asset at `position`, 0 to count() - 1.
    virtual Record at(std::int64_t position) const = 0;
  };

  // One data request. `received` is called for every chunk in order, one at a
  // time, on a thread of the store's choosing, possibly before requestData
  // returns; `completed` is called once at the end, after the last chunk,
  // with the failure's description or nothing, and the file's size in bytes.
  struct DataRequest {
    // The first byte wanted. Only a store that canSeek() honours it; any
    // other store delivers from byte 0.
    std::int64_t from = 0;
    bool networkAccessAllowed = true;
    std::function<void(double fraction)> progress;  // cloud download, 0 to 1
    std::function<void(std::string_view chunk)> received;
    std::function<void(std::optional<std::string> error, std::int64_t size)> completed;
  };

  enum class ContentMode { fit = 0, fill = 1 };
  enum class DeliveryMode { opportunistic = 0, highQuality = 1, fast = 2 };
  enum class ResizeMode { none = 0, fast = 1, exact = 2 };

  struct ImageRequest {
    std::int64_t targetSize = 0;  // a square of this many pixels
    ContentMode contentMode = ContentMode::fit;
    bool synchronous = false;
    DeliveryMode deliveryMode = DeliveryMode::highQuality;
    ResizeMode resizeMode = ResizeMode::fast;
    bool networkAccessAllowed = false;
  };

  // A decoded picture, immutable once made.
  class Image {
   public:
    virtual ~Image() = default;
    virtual double width() const = 0;   // in points
    virtual double height() const = 0;  // in points
    virtual double scale() const = 0;   // pixels per point
  };
  using ImagePtr = std::shared_ptr<const Image>;

  virtual ~PhotoStore() = default;

  // fetch returns the assets with these local identifiers, in any order;
  // unknown identifiers are simply absent.
  virtual std::vector<Record> fetch(const std::vector<std::string>& localIdentifiers) = 0;

  // fetch returns the assets that match `predicate`, in the order above.
  virtual std::unique_ptr<FetchResult> fetch(const Predicate& predicate) = 0;

  // resources returns the asset's files in an order that does not change.
  virtual std::vector<File> resources(const Record& asset) = 0;

  // canSeek tells whether data requests start at DataRequest::from.
  virtual bool canSeek() const = 0;

  // requestData starts delivering the file's bytes and returns at once.
  virtual RequestId requestData(const File& file, DataRequest request) = 0;

  // cancelDataRequest stops the request: no chunk is handed over after it
  // returns, and `completed` still comes, with an error. Cancelling a request
  // that has ended, or is unknown, does nothing.
  virtual void cancelDataRequest(RequestId id) = 0;

  // requestImage asks for one picture at least large enough to fit or fill
  // the target square. `result` is called with the picture, or with nullptr,
  // once or more; a synchronous request calls it before returning.
  virtual void requestImage(const Record& asset, const ImageRequest& request,
                            std::function<void(ImagePtr)> result) = 0;

  // redraw returns the image drawn opaque over a bitmap of exactly `width` by
  // `height` pixels (scale 1), or nullptr when it cannot.
  virtual ImagePtr redraw(const Image& image, std::int64_t width, std::int64_t height) = 0;

  // jpeg returns the image encoded as JPEG at `quality` (0 to 1), or nothing.
  virtual std::optional<std::string> jpeg(const Image& image, double quality) = 0;

  // What deleteAssets did with one asset: removed (`kept` empty), or left
  // whole, with a short lower_case reason code and the owner's explanation.
  struct Deletion {
    std::string localIdentifier;
    std::optional<std::string> kept;  // "not_found", "changed", "no_trash", "not_deleted"
    std::string detail;               // empty when removed
    bool operator==(const Deletion&) const = default;
  };

  // deleteAssets removes each of these assets as a whole, each apart from
  // the others, and says what it did with each, in the order given. Only
  // the files that the listing names as resources are removed: anything
  // else of the asset (adjustment data) was never offered to a laptop, so
  // no laptop can have verified it, and it stays where it is.
  virtual std::vector<Deletion> deleteAssets(const std::vector<std::string>& localIdentifiers) = 0;

  // count returns how many assets of the owner's library have this media type.
  virtual std::int64_t count(int mediaType) = 0;
};

}  // namespace lumenvale
