// The photo library over the platform's photo store: the listing, single
// assets, thumbnails and streamed files that the API serves, and the bulk
// queries of the screens and safe marks. Created once by the hub and shared
// by every connection thread; it keeps no mutable state, so every operation
// may run on any thread, several at once. The store must outlive it and every
// resource it opens.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/library.h"
#include "library/photo_store.h"
#include "library/rows.h"

namespace lumenvale {

class PhotoLibrary : public Library {
 public:
  // Ids are decoded and fetched this many at a time by versions(), so that
  // memory stays bounded for any number of ids.
  static constexpr std::size_t kVersionBatch = 500;
  static constexpr double kJpegQuality = 0.8;

  // `onCloud` is told each progress fraction (0 to 1) of a file being
  // downloaded from cloud storage during a read. `zone` gives the device's
  // current IANA time zone; it is asked once per call.
  PhotoLibrary(PhotoStore& store, std::function<void(double)> onCloud,
               std::function<std::string()> zone = Rows::currentZone);

  Page page(std::optional<std::string_view> after, std::int64_t limit) const override;
  std::optional<Asset> asset(std::string_view id) const override;
  std::optional<std::string> thumbnail(std::string_view id, std::int64_t px) const override;
  std::unique_ptr<Opened> open(std::string_view id, std::string_view rid) const override;
  std::optional<std::int64_t> count() const override;

  // versions returns each listed asset's current `modified` text (device
  // zone) by wire id; ids that do not decode or whose asset is gone are absent.
  std::map<std::string, std::string> versions(const std::vector<std::string>& ids) const;

  // taken returns the creation instants of these assets, oldest first; ids
  // that do not decode, assets that are gone and undated assets give nothing.
  std::vector<Instant> taken(const std::vector<std::string>& ids) const;

  // preview asks for a picture for the screens and returns at once; `done`
  // is called later, on the store's thread, once per picture delivered (or
  // at once with nullptr when the id finds no asset). Never downloads.
  void preview(std::string_view id, std::int64_t px, bool fill, std::function<void(PhotoStore::ImagePtr)> done) const;

  // fit returns the image unchanged when its longest side is at most `px`
  // pixels, else redrawn so that it is, each side at least 1 pixel.
  PhotoStore::ImagePtr fit(const PhotoStore::ImagePtr& image, std::int64_t px) const;

  // localIdentifier reads a wire id back: 1 to 128 id characters, URL-safe
  // Base64 of UTF-8 text as wireId writes it. Nothing when it is not one.
  static std::optional<std::string> localIdentifier(std::string_view id);

  // wireId returns the wire id of a local identifier.
  static std::string wireId(std::string_view localIdentifier);

  // etag returns the first 32 hex digits of the SHA-256 of
  // "<local identifier>|<rid>|<modified in UTC>", in double quotes.
  static std::string etag(std::string_view localIdentifier, std::string_view rid, std::string_view utcModified);

  // photosAndVideos keeps images and videos; audio and unknown types never list.
  static const PhotoStore::Predicate& photosAndVideos();

 private:
  std::optional<PhotoStore::Record> fetch(std::string_view id) const;
  static std::vector<Rows::ResourceInfo> infos(const std::vector<PhotoStore::File>& files);
  Asset asset(const PhotoStore::Record& record, const std::vector<PhotoStore::File>& files,
              std::string_view zone) const;

  PhotoStore& store_;
  std::function<void(double)> onCloud_;
  std::function<std::string()> zone_;
};

}  // namespace lumenvale
