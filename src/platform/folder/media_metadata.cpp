#include "platform/folder/media_metadata.h"

#include <libheif/heif.h>

#include <cmath>
#include <ctime>
#include <exception>
#include <exiv2/exiv2.hpp>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/folder/opened_file.h"
#include "library/mime_types.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
}

namespace lumenvale {
namespace {

using std::chrono::microseconds;

// The libraries' process-wide switches, thrown once before the first read:
// exiv2 reads HEIC as a plain QuickTime file without any EXIF unless BMFF
// support is enabled, and neither library may write to stderr, since this
// program keeps no log.
void prepareLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::enableBMFF(true);
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    av_log_set_level(AV_LOG_QUIET);
  });
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `count` digits at `at`, moving past them.
std::optional<int> digits(std::string_view text, std::size_t& at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    char c = text[at + i];
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += count;
  return value;
}

bool expect(std::string_view text, std::size_t& at, std::string_view oneOf) {
  if (at >= text.size() || oneOf.find(text[at]) == std::string_view::npos) return false;
  ++at;
  return true;
}

std::optional<std::string> exifText(const Exiv2::ExifData& exif, const char* key) {
  auto found = exif.findKey(Exiv2::ExifKey(key));
  if (found == exif.end()) return std::nullopt;
  std::string text = found->toString();
  // ASCII tags are written with their terminating zero and often padded.
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
  if (text.empty()) return std::nullopt;
  return text;
}

// One EXIF time: the date, its sub-second digits and its offset are three
// tags, glued here into the text parseTime reads.
std::optional<TimePoint> exifTime(const Exiv2::ExifData& exif, const char* dateKey,
                                  const char* subSecondKey, const char* offsetKey) {
  auto date = exifText(exif, dateKey);
  if (!date) return std::nullopt;
  std::string text = *date;
  if (auto subSecond = exifText(exif, subSecondKey)) {
    std::string_view fraction = *subSecond;
    while (!fraction.empty() && fraction.front() == ' ') fraction.remove_prefix(1);
    bool allDigits = !fraction.empty();
    for (char c : fraction) allDigits = allDigits && isDigit(c);
    if (allDigits) {
      text.push_back('.');
      text.append(fraction);
    }
  }
  if (auto offset = exifText(exif, offsetKey)) text += *offset;
  auto time = MediaMetadata::parseTime(text, MediaMetadata::Zone::local);
  if (!time && text.size() > date->size()) {
    // A broken offset or fraction should not cost the date itself.
    time = MediaMetadata::parseTime(*date, MediaMetadata::Zone::local);
  }
  return time;
}

std::optional<TimePoint> captureTime(const Exiv2::ExifData& exif) {
  auto original = exifTime(exif, "Exif.Photo.DateTimeOriginal", "Exif.Photo.SubSecTimeOriginal",
                           "Exif.Photo.OffsetTimeOriginal");
  if (original) return original;
  return exifTime(exif, "Exif.Image.DateTime", "Exif.Photo.SubSecTime", "Exif.Photo.OffsetTime");
}

bool isHeif(const std::string& path) {
  auto type = MimeTypes::folderType(path);
  return type &&
         (type->mime == "image/heic" || type->mime == "image/heif" || type->mime == "image/avif");
}

struct FreeContext {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct ReleaseHandle {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};

// HEIC, HEIF and AVIF go through libheif: exiv2 0.27 gives the size of one
// coded tile (a phone's HEIC is a grid of 512-pixel tiles) before rotation,
// and misses the EXIF block of some writers. libheif gives the size as shown
// (its rotation and crop applied, so EXIF orientation must not be applied
// again) and the raw EXIF block, which exiv2 then decodes.
std::optional<MediaMetadata> readHeif(const std::string& path) {
  std::unique_ptr<heif_context, FreeContext> context(heif_context_alloc());
  if (!context) return std::nullopt;
  if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok) {
    return std::nullopt;
  }
  heif_image_handle* primary = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &primary).code != heif_error_Ok) {
    return std::nullopt;
  }
  std::unique_ptr<heif_image_handle, ReleaseHandle> handle(primary);

  MediaMetadata metadata;
  metadata.width = std::max(0, heif_image_handle_get_width(handle.get()));
  metadata.height = std::max(0, heif_image_handle_get_height(handle.get()));
  heif_item_id exifId = 0;
  // A camera's EXIF, maker notes and preview included, is well below this;
  // a file that declares more costs its date rather than the memory.
  constexpr std::size_t kMaxExifBytes = 16 * 1024 * 1024;
  const std::size_t exifBytes = heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &exifId, 1) == 1
                                    ? heif_image_handle_get_metadata_size(handle.get(), exifId)
                                    : 0;
  if (exifBytes > 0 && exifBytes <= kMaxExifBytes) {
    std::vector<uint8_t> block(exifBytes);
    // The block starts with a 4-byte big-endian offset to the TIFF header,
    // counted from the end of those four bytes.
    if (block.size() > 4 &&
        heif_image_handle_get_metadata(handle.get(), exifId, block.data()).code == heif_error_Ok) {
      std::size_t skip = (std::size_t{block[0]} << 24 | std::size_t{block[1]} << 16 |
                          std::size_t{block[2]} << 8 | block[3]) +
                         4;
      if (skip < block.size()) {
        try {
          Exiv2::ExifData exif;
          Exiv2::ExifParser::decode(exif, block.data() + skip, static_cast<std::uint32_t>(block.size() - skip));
          metadata.created = captureTime(exif);
        } catch (const std::exception&) {
          // A damaged EXIF block costs the date, not the size.
        }
      }
    }
  }
  return metadata;
}

struct CloseInput {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

// The QuickTime epoch, 1904-01-01 00:00:00 UTC: what a movie header holds
// when its writer never set the time.
constexpr std::int64_t kQuickTimeEpochSeconds = -2082844800;

}  // namespace

std::optional<TimePoint> MediaMetadata::parseTime(std::string_view text, Zone zone) {
  std::size_t at = 0;
  auto year = digits(text, at, 4);
  if (!year || !expect(text, at, ":-")) return std::nullopt;
  auto month = digits(text, at, 2);
  if (!month || !expect(text, at, ":-")) return std::nullopt;
  auto day = digits(text, at, 2);
  if (!day || !expect(text, at, " T")) return std::nullopt;
  auto hour = digits(text, at, 2);
  if (!hour || !expect(text, at, ":")) return std::nullopt;
  auto minute = digits(text, at, 2);
  if (!minute || !expect(text, at, ":")) return std::nullopt;
  auto second = digits(text, at, 2);
  if (!second) return std::nullopt;

  std::int64_t micros = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    std::size_t count = 0;
    for (; at < text.size() && isDigit(text[at]); ++at, ++count) {
      if (count < 6) micros = micros * 10 + (text[at] - '0');
    }
    if (count == 0) return std::nullopt;
    for (; count < 6; ++count) micros *= 10;
  }

  std::optional<int> offsetMinutes;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
    offsetMinutes = 0;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int sign = text[at] == '-' ? -1 : 1;
    ++at;
    auto offsetHours = digits(text, at, 2);
    if (!offsetHours) return std::nullopt;
    if (at < text.size() && text[at] == ':') ++at;
    auto offsetMins = digits(text, at, 2);
    if (!offsetMins || *offsetHours > 18 || *offsetMins > 59) return std::nullopt;
    offsetMinutes = sign * (*offsetHours * 60 + *offsetMins);
  }
  if (at != text.size()) return std::nullopt;

  std::chrono::year_month_day date{std::chrono::year(*year),
                                   std::chrono::month(static_cast<unsigned>(*month)),
                                   std::chrono::day(static_cast<unsigned>(*day))};
  // A leap second reads as the second after it.
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;

  std::int64_t seconds;
  if (offsetMinutes || zone == Zone::utc) {
    auto days = std::chrono::sys_days(date).time_since_epoch().count();
    seconds = static_cast<std::int64_t>(days) * 86400 + *hour * 3600 + *minute * 60 + *second -
              std::int64_t{offsetMinutes.value_or(0)} * 60;
  } else {
    std::tm local{};
    local.tm_year = *year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_hour = *hour;
    local.tm_min = *minute;
    local.tm_sec = *second;
    local.tm_isdst = -1;  // whichever of summer and winter time held then
    std::time_t made = std::mktime(&local);
    if (made == static_cast<std::time_t>(-1) && local.tm_year != 69) return std::nullopt;
    seconds = made;
  }
  // Four-digit years keep this far inside 64 bits; TimePoint's nanoseconds
  // would not be.
  const std::int64_t total = seconds * 1'000'000 + micros;
  if (total < kEarliestMicros || total > kLatestMicros) return std::nullopt;
  return TimePoint(microseconds(total));
}

std::int64_t MediaMetadata::fileNanoseconds(const timespec& time) {
  std::int64_t nanos = 0;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(time.tv_sec), std::int64_t{1'000'000'000}, &nanos) ||
      __builtin_add_overflow(nanos, static_cast<std::int64_t>(time.tv_nsec), &nanos)) {
    return time.tv_sec < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  }
  return nanos;
}

std::optional<MediaMetadata> MediaMetadata::readPhoto(const std::string& path) {
  prepareLibraries();
  // A link or a FIFO put in a photo's place after the walk saw a file is
  // never read: it could point out of the library or stall the indexer.
  const OpenedFile file(path);
  if (!file.regular()) return std::nullopt;
  if (isHeif(path)) return readHeif(file.name());
  try {
    auto image = Exiv2::ImageFactory::open(file.name());
    if (!image.get() || !image->good()) return std::nullopt;
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();

    MediaMetadata metadata;
    metadata.created = captureTime(exif);
    metadata.width = image->pixelWidth();
    metadata.height = image->pixelHeight();
    if (metadata.width <= 0 || metadata.height <= 0) {
      auto x = exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension"));
      auto y = exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelYDimension"));
      bool known = x != exif.end() && y != exif.end() && x->count() > 0 && y->count() > 0;
      metadata.width = known ? static_cast<int>(x->toLong()) : 0;
      metadata.height = known ? static_cast<int>(y->toLong()) : 0;
    }
    if (metadata.width < 0 || metadata.height < 0) metadata.width = metadata.height = 0;
    // Orientations 5 to 8 turn the picture a quarter, so it shows with its
    // sides swapped.
    auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end() && orientation->count() > 0) {
      long turn = orientation->toLong();
      if (turn >= 5 && turn <= 8) std::swap(metadata.width, metadata.height);
    }
    return metadata;
  } catch (const std::exception&) {
    // exiv2 throws for unknown formats, truncated files and damaged
    // structures alike; all of them mean the file tells us nothing.
    return std::nullopt;
  }
}

std::optional<MediaMetadata> MediaMetadata::readVideo(const std::string& path) {
  prepareLibraries();
  const OpenedFile file(path);
  if (!file.regular()) return std::nullopt;
  AVFormatContext* opened = nullptr;
  // On failure avformat_open_input frees the context itself.
  if (avformat_open_input(&opened, file.name().c_str(), nullptr, nullptr) < 0) return std::nullopt;
  std::unique_ptr<AVFormatContext, CloseInput> context(opened);

  int index = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0 || context->streams[index]->codecpar->width <= 0) {
    // The headers alone did not tell; probing reads (and decodes) the
    // first packets, which QuickTime files seldom need.
    if (avformat_find_stream_info(context.get(), nullptr) < 0) return std::nullopt;
    index = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return std::nullopt;
  }
  AVStream* stream = context->streams[index];
  if (stream->codecpar->width <= 0 || stream->codecpar->height <= 0) return std::nullopt;

  MediaMetadata metadata;
  metadata.width = stream->codecpar->width;
  metadata.height = stream->codecpar->height;
  std::size_t matrixSize = 0;
  const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
  if (matrix != nullptr && matrixSize >= 9 * sizeof(int32_t)) {
    double degrees = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isfinite(degrees)) {
      long quarter = std::lround(degrees / 90.0);
      if (quarter % 2 != 0) std::swap(metadata.width, metadata.height);
    }
  }

  if (context->duration != AV_NOPTS_VALUE && context->duration > 0) {
    metadata.duration = static_cast<double>(context->duration) / AV_TIME_BASE;
  } else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
    metadata.duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
  } else {
    metadata.duration = 0.0;
  }

  struct Key {
    const char* name;
    Zone zone;
  };
  for (Key key :
       {Key{"com.apple.quicktime.creationdate", Zone::local}, Key{"creation_time", Zone::utc}}) {
    const AVDictionaryEntry* entry = av_dict_get(context->metadata, key.name, nullptr, 0);
    if (entry == nullptr || entry->value == nullptr) continue;
    auto time = parseTime(entry->value, key.zone);
    if (!time) continue;
    if (*time == TimePoint(std::chrono::seconds(kQuickTimeEpochSeconds))) continue;
    metadata.created = time;
    break;
  }
  return metadata;
}

}  // namespace lumenvale
