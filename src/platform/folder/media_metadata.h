// What a photo or video file records about itself: its capture time, its
// pixel size and, for a video, its length. Photos are read with exiv2
// and libheif, videos with FFmpeg's demuxers; nothing is decoded. Safe
// from any thread; each read opens its file anew and keeps no state.
#pragma once

#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/clock.h"

namespace lumenvale {

struct MediaMetadata {
  // The instants a TimePoint holds (nanoseconds since 1970 in 64 bits),
  // 1677-09-21 to 2262-04-11, in whole microseconds. A capture time outside
  // them is refused as if the file recorded none, so the caller's fall-back
  // applies; converting it would overflow and name another century.
  static constexpr std::int64_t kEarliestMicros =
      std::chrono::duration_cast<std::chrono::microseconds>(TimePoint::duration::min()).count();
  static constexpr std::int64_t kLatestMicros =
      std::chrono::duration_cast<std::chrono::microseconds>(TimePoint::duration::max()).count();

  // fileNanoseconds returns a file time (a stat's st_mtim) as nanoseconds
  // since 1970, clamped to the first or last a TimePoint holds when it lies
  // beyond them: file systems keep times far past 2262 (and before 1677),
  // which the product with 10^9 would overflow.
  static std::int64_t fileNanoseconds(const timespec& time);

  // created is the capture time the file records, in whole microseconds
  // (so it survives a round trip through a double of seconds), or nothing
  // when it records none. The caller picks a fallback.
  std::optional<TimePoint> created;
  // width and height are the size as shown: a photo or video that is to be
  // turned a quarter on display has them swapped. 0 when unknown.
  int width = 0;
  int height = 0;
  // duration is the length of a video in seconds; nothing for photos.
  std::optional<double> duration;

  bool operator==(const MediaMetadata&) const = default;

  // readPhoto returns what a photo file records (HEIC, HEIF and AVIF read
  // through libheif, the others through exiv2): EXIF DateTimeOriginal with
  // SubSecTimeOriginal and OffsetTimeOriginal, else EXIF DateTime with
  // SubSecTime and OffsetTime (a time without an offset is this machine's
  // local time). Nothing when the file cannot be read or is not an image
  // those libraries know.
  static std::optional<MediaMetadata> readPhoto(const std::string& path);

  // readVideo returns what a movie records: the QuickTime
  // com.apple.quicktime.creationdate (which keeps the camera's offset), else
  // creation_time (UTC); the size of the main video stream turned by its
  // display matrix; the container's duration. Nothing when FFmpeg cannot
  // open it or it has no video stream with a size.
  static std::optional<MediaMetadata> readVideo(const std::string& path);

  enum class Zone { utc, local };

  // parseTime reads "YYYY-MM-DD HH:MM:SS" (":" may stand for "-", "T" for
  // the space), then optionally a fraction of a second (up to microseconds
  // are kept) and an offset "Z", "+HH:MM" or "+HHMM". Without an offset the
  // time is taken in `zone`. Nothing for any other text, an impossible
  // date, such as the "0000:00:00 00:00:00" of a camera without a clock,
  // or a time outside kEarliestMicros to kLatestMicros.
  static std::optional<TimePoint> parseTime(std::string_view text, Zone zone);
};

}  // namespace lumenvale
