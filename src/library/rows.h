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
#include "library/resource_type.h"

namespace lumenvale::Rows {

// Where the listing stands. A cursor names the last asset sent: its
// creation date (none for an undated one) and its tie-break key, the store's
// local identifier, which orders assets of equal dates (descending, compared
// as bytes). The next page starts just after that asset, wherever assets of
// the same date come or go meanwhile. Cursors written before keys were
// carried name a count instead: after `sent` assets of the run created
// exactly at `date` (counted from the newest end of the run), or after
// `sent` assets without a creation time; they still parse and position.
class Cursor {
 public:
  static Cursor dated(Instant date, std::int64_t sent) { return Cursor(date, sent, std::nullopt); }
  static Cursor undated(std::int64_t sent) { return Cursor(std::nullopt, sent, std::nullopt); }
  static Cursor datedAfter(Instant date, std::string key) { return Cursor(date, 0, std::move(key)); }
  static Cursor undatedAfter(std::string key) { return Cursor(std::nullopt, 0, std::move(key)); }

  bool isDated() const { return date_.has_value(); }
  // date is meaningful only for a dated cursor.
  Instant date() const { return date_.value_or(0.0); }
  // sent is meaningful only for a cursor without a key.
  std::int64_t sent() const { return sent_; }
  bool hasKey() const { return key_.has_value(); }
  // key is the last sent asset's local identifier; empty without a key.
  const std::string& key() const { return hasKey() ? *key_ : kNoKey; }

  // Dates compare by their bits, so a cursor survives its text form exactly.
  bool operator==(const Cursor& other) const;

 private:
  static inline const std::string kNoKey;
  Cursor(std::optional<Instant> date, std::int64_t sent, std::optional<std::string> key)
      : date_(date), sent_(sent), key_(std::move(key)) {}
  std::optional<Instant> date_;
  std::int64_t sent_;
  std::optional<std::string> key_;
};

// The store's resource types, in the order their files are preferred.
enum class Source { photo, video, pairedVideo, fullSizePhoto, fullSizeVideo, fullSizePairedVideo, alternatePhoto, other };

// source returns the Source of a store resource type; audio, adjustment
// data and codes no store should send are `other`.
Source source(ResourceType type);

// One store resource reduced to what naming needs; lists keep the store's order.
struct ResourceInfo {
  Source source = Source::other;
  std::string name;  // the file name the store recorded, possibly empty
  std::string uti;   // its uniform type identifier, possibly empty
};

// format returns "t<hex bits of date>~<key>" or "u~<key>", the key as a
// wire id (URL-safe Base64 of the local identifier), so that the text needs
// no escaping in a query; a cursor without a key as "t<hex bits>.<sent>" or
// "u<sent>".
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

// What the window needs to know of the asset at a position of the fetch.
struct Place {
  std::optional<Instant> date;  // its creation date, if any
  std::string key;              // its local identifier
};

// window chooses the page of a fetch sorted newest first, undated assets
// last and equal times by key, descending as bytes. The fetch holds every
// asset without a cursor, those created at or before `date` plus the
// undated ones after a dated cursor, and only the undated ones after an
// undated cursor. `at` tells the date and key at a position; a keyed cursor
// finds its place in a number of calls that grows with the logarithm of the
// fetch. A limit below 1 is taken as 1.
Window window(std::int64_t count, const std::function<Place(std::int64_t)>& at, const std::optional<Cursor>& after,
              std::int64_t limit);

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
// The calendar is Gregorian for every year; instants before 0001-01-02 or
// after 9999-12-31 (UTC) are written as those days, so that the year always
// has four digits, and a NaN as 1970-01-01.
std::string time(Instant instant, std::string_view zone);

// currentZone returns the IANA id of the machine's time zone as it is now.
// Safe to call from any thread.
std::string currentZone();

}  // namespace lumenvale::Rows
