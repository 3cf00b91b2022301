// The photo library as the API and the delete handler reach it: the listing,
// single assets, thumbnails, and one file opened for streaming. Implementations
// are shared by every connection thread and must allow concurrent calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "library/asset.h"
#include "util/failure.h"

namespace lumenvale {

// LibraryError is the one failure of the listing: a cursor text that does not
// parse. The API answers it with 400.
class LibraryError : public DescribedFailure {
 public:
  static LibraryError badCursor() { return LibraryError("the cursor does not parse"); }

 private:
  using DescribedFailure::DescribedFailure;
};

// ResourceReadError is what read() throws when the store could not deliver a
// file, for example one held only in cloud storage that cannot be downloaded.
class ResourceReadError : public DescribedFailure {
 public:
  using DescribedFailure::DescribedFailure;
};

// One resource ready to be streamed; lives for one request.
class Opened {
 public:
  // A consumer takes one chunk of the file at a time, in order, and fails by
  // throwing. It runs on a thread of the store's choosing, never twice at once.
  using Consumer = std::function<void(std::string_view chunk)>;

  virtual ~Opened() = default;

  // mime is the media type the listing gives for this resource.
  virtual std::string mime() const = 0;

  // etag is the validator text, double quotes included. It changes when the
  // asset is edited and is the same for every laptop until then.
  virtual std::string etag() const = 0;

  // read hands `consume` every byte of the file from byte `from` on (the
  // whole file when `from` is 0), in chunks, and returns the file's size in
  // bytes once it has been delivered; a `from` at or past the end delivers
  // nothing. Blocks the calling thread until the store has finished. Throws
  // the consumer's failure (the transfer is then stopped) or
  // ResourceReadError; chunks already handed over stay handed over.
  virtual std::int64_t read(const Consumer& consume, std::int64_t from = 0) = 0;
};

class Library {
 public:
  virtual ~Library() = default;

  // page returns up to `limit` assets after the cursor `after` (from the
  // start when there is none), newest first, and the cursor that continues
  // the listing. Throws LibraryError when `after` does not parse.
  virtual Page page(std::optional<std::string_view> after, std::int64_t limit) const = 0;

  // asset returns the asset with wire id `id`, times in the device's zone, or
  // nothing when the id does not decode or no such asset exists.
  virtual std::optional<Asset> asset(std::string_view id) const = 0;

  // thumbnail returns JPEG bytes whose longest side is at most `px` pixels,
  // or nothing.
  virtual std::optional<std::string> thumbnail(std::string_view id, std::int64_t px) const = 0;

  // open returns the resource `rid` of asset `id`, or nullptr when there is
  // no such asset or the asset lists no resource with that rid.
  virtual std::unique_ptr<Opened> open(std::string_view id, std::string_view rid) const = 0;

  // count returns how many assets the listing holds, or nothing when the
  // library cannot tell cheaply. Bounds what a laptop may report about it.
  virtual std::optional<std::int64_t> count() const { return std::nullopt; }
};

}  // namespace lumenvale
