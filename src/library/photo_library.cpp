#include "library/photo_library.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "library/photo_resource.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"
#include "util/mutex.h"

namespace lumenvale {
namespace {

// decodeBase64 reads standard Base64 with padding, strictly: a length that is
// a multiple of 4, only the 64 letters of the alphabet, "=" only as the last
// one or two characters, and zero bits past the last byte. Nothing for
// anything else.
std::optional<std::string> decodeBase64(std::string_view text) {
  static const std::array<int, 256> value = [] {
    std::array<int, 256> table{};
    table.fill(-1);
    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
    return table;
  }();
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  const std::string_view body = text.substr(0, text.size() - padding);
  // Three "=" would leave a lone character, which holds less than a byte.
  if (body.size() % 4 == 1) return std::nullopt;

  std::string bytes;
  bytes.reserve(body.size() * 3 / 4);
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : body) {
    const int v = value[static_cast<unsigned char>(c)];
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes.push_back(static_cast<char>((bits >> held) & 0xFF));
    }
  }
  // The encoding leaves them zero; accepting others would give one asset a
  // second id, which a delete request could name beside the first.
  if ((bits & ((std::uint32_t{1} << held) - 1)) != 0) return std::nullopt;
  return bytes;
}

}  // namespace

PhotoLibrary::PhotoLibrary(PhotoStore& store, std::function<void(double)> onCloud,
                           std::function<std::string()> zone)
    : store_(store), onCloud_(std::move(onCloud)), zone_(std::move(zone)) {}

const PhotoStore::Predicate& PhotoLibrary::photosAndVideos() {
  static const PhotoStore::Predicate predicate = [] {
    PhotoStore::Predicate p;
    p.mediaTypes = {PhotoStore::kImage, PhotoStore::kVideo};
    p.sourceTypes = PhotoStore::kUserLibrary;
    return p;
  }();
  return predicate;
}

std::optional<std::string> PhotoLibrary::localIdentifier(std::string_view id) {
  if (id.empty() || id.size() > Asset::kMaxIdLength) return std::nullopt;
  if (id.find_first_not_of(Asset::idCharacters) != std::string_view::npos) return std::nullopt;
  std::string text(id);
  for (char& c : text) {
    if (c == '-') c = '+';
    if (c == '_') c = '/';
  }
  while (text.size() % 4 != 0) text.push_back('=');
  std::optional<std::string> bytes = decodeBase64(text);
  if (!bytes || !Text::isValidUtf8(*bytes)) return std::nullopt;
  return bytes;
}

std::string PhotoLibrary::wireId(std::string_view localIdentifier) { return Crypto::base64Url(localIdentifier); }

std::string PhotoLibrary::etag(std::string_view localIdentifier, std::string_view rid, std::string_view utcModified) {
  std::string text;
  text.append(localIdentifier).append("|").append(rid).append("|").append(utcModified);
  std::string quoted = "\"";
  quoted.append(Bytes::hex(Crypto::sha256(text)), 0, 32).push_back('"');
  return quoted;
}

std::optional<PhotoStore::Record> PhotoLibrary::fetch(std::string_view id) const {
  std::optional<std::string> local = localIdentifier(id);
  if (!local) return std::nullopt;
  std::vector<PhotoStore::Record> found = store_.fetch(std::vector<std::string>{std::move(*local)});
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

std::vector<Rows::ResourceInfo> PhotoLibrary::infos(const std::vector<PhotoStore::File>& files) {
  std::vector<Rows::ResourceInfo> result;
  result.reserve(files.size());
  for (const PhotoStore::File& file : files) {
    result.push_back({Rows::source(file.type), file.originalFilename, file.uniformTypeIdentifier});
  }
  return result;
}

Asset PhotoLibrary::asset(const PhotoStore::Record& record, const std::vector<PhotoStore::File>& files,
                          std::string_view zone) const {
  Asset asset;
  asset.resources = Rows::resources(infos(files));
  const Instant created = record.creationDate.value_or(record.modificationDate.value_or(kUnixEpoch));
  // Only an edit changes the version: metadata changes (a favourite, an
  // album) move the store's modification date but not the files. A store
  // that follows its files' bytes says so with a version of its own.
  const bool edited = std::any_of(asset.resources.begin(), asset.resources.end(),
                                  [](const Resource& resource) { return resource.rid.starts_with("edited"); });
  const Instant modified =
      record.versionDate ? *record.versionDate : edited ? record.modificationDate.value_or(created) : created;
  const bool isVideo = record.mediaType == PhotoStore::kVideo;

  asset.id = wireId(record.localIdentifier);
  asset.kind = Rows::kind(isVideo, asset.resources);
  asset.created = Rows::time(created, zone);
  asset.modified = Rows::time(modified, zone);
  asset.width = record.pixelWidth;
  asset.height = record.pixelHeight;
  if (isVideo) asset.duration = record.duration;
  return asset;
}

Page PhotoLibrary::page(std::optional<std::string_view> after, std::int64_t limit) const {
  std::optional<Rows::Cursor> cursor;
  if (after) cursor = Rows::parse(*after);

  PhotoStore::Predicate predicate = photosAndVideos();
  if (cursor && !cursor->isDated()) {
    predicate.created = PhotoStore::Predicate::Created::none;
  } else if (cursor) {
    predicate.created = PhotoStore::Predicate::Created::atOrBefore;
    predicate.createdAtOrBefore = cursor->date();
  }
  const std::unique_ptr<PhotoStore::FetchResult> fetched = store_.fetch(predicate);
  const Rows::Window window = Rows::window(
      fetched->count(),
      [&](std::int64_t position) {
        PhotoStore::Record record = fetched->at(position);
        return Rows::Place{record.creationDate, std::move(record.localIdentifier)};
      },
      cursor, limit);

  const std::string zone = zone_();
  Page page;
  page.assets.reserve(static_cast<std::size_t>(window.end - window.start));
  for (std::int64_t position = window.start; position < window.end; ++position) {
    const PhotoStore::Record record = fetched->at(position);
    page.assets.push_back(asset(record, store_.resources(record), zone));
  }
  if (window.next) page.next = Rows::format(*window.next);
  return page;
}

std::optional<std::int64_t> PhotoLibrary::count() const {
  return store_.count(PhotoStore::kImage) + store_.count(PhotoStore::kVideo);
}

std::optional<Asset> PhotoLibrary::asset(std::string_view id) const {
  const std::optional<PhotoStore::Record> record = fetch(id);
  if (!record) return std::nullopt;
  return asset(*record, store_.resources(*record), zone_());
}

PhotoStore::ImagePtr PhotoLibrary::fit(const PhotoStore::ImagePtr& image, std::int64_t px) const {
  if (!image) return nullptr;
  const double width = image->width() * image->scale();
  const double height = image->height() * image->scale();
  const double longest = std::max(width, height);
  if (longest <= static_cast<double>(px)) return image;
  const double factor = static_cast<double>(px) / longest;
  const auto side = [factor](double length) {
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(length * factor)));
  };
  return store_.redraw(*image, side(width), side(height));
}

std::optional<std::string> PhotoLibrary::thumbnail(std::string_view id, std::int64_t px) const {
  const std::optional<PhotoStore::Record> record = fetch(id);
  if (!record) return std::nullopt;
  PhotoStore::ImageRequest request;
  request.targetSize = px;
  request.contentMode = PhotoStore::ContentMode::fit;
  request.synchronous = true;
  request.deliveryMode = PhotoStore::DeliveryMode::highQuality;
  request.resizeMode = PhotoStore::ResizeMode::fast;
  request.networkAccessAllowed = true;
  // Shared with the handler in case a store calls it after returning.
  struct Kept {
    Mutex lock;
    PhotoStore::ImagePtr image GUARDED_BY(lock);
  };
  auto kept = std::make_shared<Kept>();
  store_.requestImage(*record, request, [kept](PhotoStore::ImagePtr image) {
    MutexLock hold(kept->lock);
    kept->image = std::move(image);
  });
  PhotoStore::ImagePtr image;
  {
    MutexLock hold(kept->lock);
    image = kept->image;
  }
  if (!image) return std::nullopt;
  const PhotoStore::ImagePtr fitted = fit(image, px);
  if (!fitted) return std::nullopt;
  return store_.jpeg(*fitted, kJpegQuality);
}

std::unique_ptr<Opened> PhotoLibrary::open(std::string_view id, std::string_view rid) const {
  const std::optional<PhotoStore::Record> record = fetch(id);
  if (!record) return nullptr;
  std::vector<PhotoStore::File> files = store_.resources(*record);
  const std::vector<std::pair<std::size_t, Resource>> named = Rows::mapped(infos(files));
  const auto chosen = std::find_if(named.begin(), named.end(), [&](const auto& pair) { return pair.second.rid == rid; });
  if (chosen == named.end()) return nullptr;
  const Asset utc = asset(*record, files, "UTC");
  return std::make_unique<PhotoResource>(store_, std::move(files[chosen->first]), chosen->second.mime,
                                         etag(record->localIdentifier, rid, utc.modified), onCloud_);
}

std::map<std::string, std::string> PhotoLibrary::versions(const std::vector<std::string>& ids) const {
  std::map<std::string, std::string> result;
  const std::string zone = zone_();
  for (std::size_t first = 0; first < ids.size(); first += kVersionBatch) {
    const std::size_t last = std::min(ids.size(), first + kVersionBatch);
    std::vector<std::string> locals;
    for (std::size_t i = first; i < last; ++i) {
      if (std::optional<std::string> local = localIdentifier(ids[i])) locals.push_back(std::move(*local));
    }
    if (locals.empty()) continue;
    for (const PhotoStore::Record& record : store_.fetch(locals)) {
      Asset built = asset(record, store_.resources(record), zone);
      result[std::move(built.id)] = std::move(built.modified);
    }
  }
  return result;
}

std::vector<Instant> PhotoLibrary::taken(const std::vector<std::string>& ids) const {
  std::vector<std::string> locals;
  for (const std::string& id : ids) {
    if (std::optional<std::string> local = localIdentifier(id)) locals.push_back(std::move(*local));
  }
  std::vector<Instant> instants;
  if (locals.empty()) return instants;
  for (const PhotoStore::Record& record : store_.fetch(locals)) {
    if (record.creationDate) instants.push_back(*record.creationDate);
  }
  std::sort(instants.begin(), instants.end());
  return instants;
}

void PhotoLibrary::preview(std::string_view id, std::int64_t px, bool fill,
                           std::function<void(PhotoStore::ImagePtr)> done) const {
  const std::optional<PhotoStore::Record> record = fetch(id);
  if (!record) {
    done(nullptr);
    return;
  }
  PhotoStore::ImageRequest request;
  request.targetSize = px;
  request.contentMode = fill ? PhotoStore::ContentMode::fill : PhotoStore::ContentMode::fit;
  request.synchronous = false;
  request.deliveryMode = PhotoStore::DeliveryMode::highQuality;
  request.resizeMode = PhotoStore::ResizeMode::fast;
  request.networkAccessAllowed = false;
  store_.requestImage(*record, request, std::move(done));
}

}  // namespace lumenvale
