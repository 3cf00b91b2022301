// Pure functions over what the photo store returns: the paging cursor that
// lets a laptop walk a large library newest first without skipping or
// repeating an asset, and the naming of an asset's files. Stateless; safe to
// call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "library/asset.h"

namespace lumenvale::Rows {

// Where the listing stands: after `sent` assets of the run created exactly at
// `date` (counted from the newest end of the run), or, for an undated cursor,
// after `sent` assets without a creation time.
class Cursor {
 public:
  static Cursor dated(Instant date, std::int64_t sent) { return Cursor(date, sent); }
  static Cursor undated(std::int64_t sent) { return Cursor(std::nullopt, sent); }

  bool isDated() const { return date_.has_value(); }
  // date is meaningful only for a dated cursor.
  Instant date() const { return date_.value_or(0.0); }
  std::int64_t sent() const { return sent_; }

  // Dates compare by their bits, so a cursor survives its text form exactly.
  bool operator==(const Cursor& other) const;

 private:
  Cursor(std::optional<Instant> date, std::int64_t sent) : date_(date), sent_(sent) {}
  std::optional<Instant> date_;
  std::int64_t sent_;
};

// The store's resource types, in the order their files are preferred.
enum class Source { photo, video, pairedVideo, fullSizePhoto, fullSizeVideo, fullSizePairedVideo, alternatePhoto, other };

// source returns the Source of a store resource type code (1 photo, 2 video,
// 4 alternate photo, 5 full-size photo, 6 full-size video, 9 paired video,
// 10 full-size paired video; every other code is `other`).
Source source(int typeCode);

// One store resource reduced to what naming needs; lists keep the store's order.
struct ResourceInfo {
  Source source = Source::other;
  std::string name;  // the file name the store recorded, possibly empty
  std::string uti;   // its uniform type identifier, possibly empty
};

// format returns "t<hex bits of date>.<sent>" or "u<sent>".
std::string format(const Cursor& cursor);

// parse reads a cursor text back. Throws LibraryError::badCursor for any text
// that format could not have written (a well-formed cursor from another
// device is accepted; it merely positions the listing).
Cursor parse(std::string_view text);

// The positions [start, end) of the current fetch to deliver, and the cursor
// for the next page, empty when the page reaches the end of the fetch.
struct Window {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::optional<Cursor> next;
};

// window chooses the page of a fetch sorted newest first, undated assets
// last and equal times in the store's stable order. The fetch holds every
// asset without a cursor, those created at or before `date` plus the undated
// ones after a dated cursor, and only the undated ones after an undated
// cursor. `dateAt` gives the creation time at a position. A limit below 1
// is taken as 1.
Window window(std::int64_t count, const std::function<std::optional<Instant>(std::int64_t)>& dateAt,
              const std::optional<Cursor>& after, std::int64_t limit);

// mapped names an asset's files: for each info that becomes a listed
// resource, its position in `infos` and the Resource. Unknown kinds of file
// are left out, and of two infos giving the same rid the first wins.
std::vector<std::pair<std::size_t, Resource>> mapped(const std::vector<ResourceInfo>& infos);

// resources returns the Resource parts of mapped(infos), in order.
std::vector<Resource> resources(const std::vector<ResourceInfo>& infos);

// editedName returns the name offered for an edited file: the unedited
// file's stem marked as edited ("IMG_0042" -> "IMG_E0042", "DSC_1" ->
// "DSC_1_E") with the edited file's extension.
std::string editedName(std::string_view unedited, std::string_view edited);

// kind returns "video" for an asset the store classes as a video, else
// "live" when a resource has rid "video", else "photo".
std::string kind(bool isVideo, const std::vector<Resource>& resources);

// mimeType returns the media type of a type identifier, else of the name's
// extension, else "application/octet-stream".
std::string mimeType(std::string_view uti, std::string_view name);

// time returns "yyyy-MM-dd'T'HH:mm:ssXXXXX" for `instant` in the IANA zone
// `zone` (Gregorian calendar, en_US_POSIX): 2024-05-01T14:03:59+02:00, or
// 2024-05-01T12:03:59Z at a zero offset. An unknown zone is taken as UTC.
std::string time(Instant instant, std::string_view zone);

// currentZone returns the IANA id of the machine's time zone as it is now.
// Safe to call from any thread.
std::string currentZone();

}  // namespace lumenvale::Rows
