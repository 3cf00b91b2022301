#include "platform/folder/picture_limits.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace lumenvale::PictureLimits {
namespace {

// A decode that reads its file a few lines at a time holds those lines for
// each of libvips' threads and the loader's own state.
constexpr std::int64_t kStreamingCost = 16 * kMiB;

// The picture made is held as it comes out of the pipeline and once more
// as the copy in memory, with up to four bands.
constexpr std::int64_t kOutputBytesPerPixel = 2 * 4;

// libheif decodes the whole picture, and holds its YCbCr planes, the RGB
// result and the decoder's own pictures at once: about 8.4 bytes a pixel
// were measured for an 8-bit 12-megapixel HEIC.
constexpr std::int64_t kHeifBytesPerPixel = 9;

// A video decoder holds the frame, the ones it refers to (a few, with
// threading off) and the scaler's input, at 1.5 bytes a pixel each.
constexpr std::int64_t kVideoBytesPerPixel = 12;

enum class Loader { jpeg, png, gif, tiff, webp, heif };

// loaderOf names the loader of one of the photo formats, whether it read a
// file, a buffer or a source.
std::optional<Loader> loaderOf(std::string_view name) {
  for (std::string_view suffix : {"_source", "_buffer"}) {
    if (name.ends_with(suffix)) name.remove_suffix(suffix.size());
  }
  if (name == "jpegload") return Loader::jpeg;
  if (name == "pngload") return Loader::png;
  if (name == "gifload") return Loader::gif;
  if (name == "tiffload") return Loader::tiff;
  if (name == "webpload") return Loader::webp;
  if (name == "heifload") return Loader::heif;
  return std::nullopt;
}

// wholeCost returns what the loader holds of the whole picture at once,
// or 0 when it decodes a few lines at a time.
std::int64_t wholeCost(Loader loader, const Header& header, std::int64_t pixels) {
  const std::int64_t samples = pixels * header.bands;
  switch (loader) {
    // A progressive JPEG keeps every DCT coefficient, two bytes each, at
    // full size even when it is decoded at an eighth.
    case Loader::jpeg: return header.interlaced ? samples * 2 : 0;
    // An interlaced PNG is read whole before its first line is known.
    case Loader::png: return header.interlaced ? samples * header.bytesPerSample : 0;
    // The GIF decoder draws each frame on an RGBA canvas of the full size,
    // and keeps the previous one for frames that restore it.
    case Loader::gif: return pixels * 4 * 2;
    // A TIFF's strip or tile may be the whole picture.
    case Loader::tiff: return samples * header.bytesPerSample;
    // A lossless WebP is decoded whole; an animation also keeps its canvas.
    case Loader::webp: return pixels * 4 * (header.pages > 1 ? 2 : 1);
    case Loader::heif: return pixels * kHeifBytesPerPixel * header.bytesPerSample;
  }
  return samples * header.bytesPerSample;
}

}  // namespace

std::optional<std::int64_t> decodeCost(const Header& header, std::int64_t outputPixels) {
  const std::optional<Loader> loader = loaderOf(header.loader);
  if (!loader || header.width <= 0 || header.height <= 0 || header.bands <= 0 || header.bytesPerSample <= 0) {
    return std::nullopt;
  }
  // Each side fits in an int, so the product cannot overflow.
  const std::int64_t pixels = header.width * header.height;
  if (pixels > kMaxPixels || header.bands > 16 || header.bytesPerSample > 8) return std::nullopt;
  const std::int64_t cost = kStreamingCost + wholeCost(*loader, header, pixels) +
                            std::max<std::int64_t>(0, outputPixels) * kOutputBytesPerPixel;
  if (cost > kDecodeMemory) return std::nullopt;
  return cost;
}

std::optional<std::int64_t> videoCost(std::int64_t width, std::int64_t height, std::int64_t outputPixels) {
  // Each side fits in an int, so the product cannot overflow.
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
  const std::int64_t pixels = width * height;
  const std::int64_t cost = kStreamingCost + pixels * kVideoBytesPerPixel +
                            std::max<std::int64_t>(0, outputPixels) * kOutputBytesPerPixel;
  if (cost > kDecodeMemory) return std::nullopt;
  return cost;
}

std::optional<std::int64_t> drawCost(std::int64_t inputPixels, std::int64_t outputPixels) {
  if (inputPixels <= 0 || outputPixels <= 0 || inputPixels > kMaxPixels || outputPixels > kMaxPixels) {
    return std::nullopt;
  }
  const std::int64_t cost = kStreamingCost + (inputPixels + outputPixels) * kOutputBytesPerPixel;
  if (cost > kDecodeMemory) return std::nullopt;
  return cost;
}

DecodeGate::Pass::~Pass() {
  if (gate_ != nullptr) gate_->leave(cost_);
}

DecodeGate::Pass& DecodeGate::Pass::operator=(Pass&& other) noexcept {
  if (this == &other) return *this;
  if (gate_ != nullptr) gate_->leave(cost_);
  gate_ = std::exchange(other.gate_, nullptr);
  cost_ = other.cost_;
  return *this;
}

int DecodeGate::waiting() {
  MutexLock hold(mutex_);
  return static_cast<int>(nextTicket_ - serving_);
}

std::optional<DecodeGate::Pass> DecodeGate::enter(std::int64_t cost) {
  if (cost < 0 || cost > memory_ || places_ <= 0) return std::nullopt;
  MutexLock hold(mutex_);
  const std::uint64_t ticket = nextTicket_++;
  // In order of asking, so that a large picture is not passed over for
  // ever by small ones.
  while (!(ticket == serving_ && inside_ < places_ && held_ + cost <= memory_)) hold.wait(changed_);
  ++serving_;
  ++inside_;
  held_ += cost;
  // The next in line may fit too.
  changed_.notify_all();
  return Pass(this, cost);
}

void DecodeGate::leave(std::int64_t cost) {
  MutexLock hold(mutex_);
  --inside_;
  held_ -= cost;
  changed_.notify_all();
}

DecodeGate& DecodeGate::shared() {
  static DecodeGate gate(kDecodeMemory, kMaxDecodes);
  return gate;
}

}  // namespace lumenvale::PictureLimits
