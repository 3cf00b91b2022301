#include "library/rows.h"

#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

#include "library/library.h"
#include "library/mime_types.h"
#include "library/photo_library.h"
#include "util/date_formatter.h"
#include "util/mutex.h"
#include "util/text.h"

namespace lumenvale::Rows {
namespace {

// Parts a keyed cursor from its key; a character outside Base64 and the
// digits of a count, and one a query carries unescaped.
constexpr char kKeyMark = '~';

// A decimal count as a cursor carries it: an integer as a general-purpose
// parser reads it, and not negative ("-0" is 0).
std::optional<std::int64_t> count(std::string_view text) {
  const std::optional<std::int64_t> value = Text::parseInteger(text);
  if (!value || *value < 0) return std::nullopt;
  return value;
}

// The 64 bits of a date as hex digits of either case, nothing else.
std::optional<std::uint64_t> bits(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  // from_chars accepts only digits for base 16, but a leading "-" as well.
  if (text.front() == '-') return std::nullopt;
  return value;
}

std::string_view lastPathComponent(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// extension returns the text after the last ".", empty when there is none.
std::string_view extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

// 0001-01-02 and 9999-12-31 at 00:00 UTC.
constexpr Instant kFirstInstant = -63113817600.0;
constexpr Instant kLastInstant = 252423907200.0;

}  // namespace

bool Cursor::operator==(const Cursor& other) const {
  if (sent_ != other.sent_ || key_ != other.key_ || date_.has_value() != other.date_.has_value()) return false;
  return !date_ || std::bit_cast<std::uint64_t>(*date_) == std::bit_cast<std::uint64_t>(*other.date_);
}

Source source(ResourceType type) {
  switch (type) {
    case ResourceType::photo: return Source::photo;
    case ResourceType::video: return Source::video;
    case ResourceType::alternatePhoto: return Source::alternatePhoto;
    case ResourceType::fullSizePhoto: return Source::fullSizePhoto;
    case ResourceType::fullSizeVideo: return Source::fullSizeVideo;
    case ResourceType::pairedVideo: return Source::pairedVideo;
    case ResourceType::fullSizePairedVideo: return Source::fullSizePairedVideo;
    case ResourceType::audio:
    case ResourceType::adjustmentData:
    case ResourceType::adjustmentBasePhoto: break;
  }
  return Source::other;  // and any number a store should not have sent
}

std::string format(const Cursor& cursor) {
  std::string text(1, cursor.isDated() ? 't' : 'u');
  if (cursor.isDated()) {
    char hex[16];
    const auto [end, error] = std::to_chars(hex, hex + sizeof hex, std::bit_cast<std::uint64_t>(cursor.date()), 16);
    (void)error;  // sixteen digits always fit
    text.append(hex, end);
  }
  if (cursor.hasKey()) return text.append(1, kKeyMark).append(PhotoLibrary::wireId(cursor.key()));
  if (cursor.isDated()) text.push_back('.');
  return text.append(std::to_string(cursor.sent()));
}

Cursor parse(std::string_view text) {
  if (const std::size_t mark = text.find(kKeyMark); mark != std::string_view::npos) {
    std::optional<std::string> key = PhotoLibrary::localIdentifier(text.substr(mark + 1));
    if (!key) throw LibraryError::badCursor();
    if (text.substr(0, mark) == "u") return Cursor::undatedAfter(std::move(*key));
    if (!text.starts_with('t')) throw LibraryError::badCursor();
    const std::optional<std::uint64_t> dateBits = bits(text.substr(1, mark - 1));
    if (!dateBits) throw LibraryError::badCursor();
    const Instant date = std::bit_cast<Instant>(*dateBits);
    if (!std::isfinite(date)) throw LibraryError::badCursor();
    return Cursor::datedAfter(date, std::move(*key));
  }
  if (text.starts_with('u')) {
    if (const std::optional<std::int64_t> sent = count(text.substr(1))) return Cursor::undated(*sent);
  }
  if (!text.starts_with('t')) throw LibraryError::badCursor();
  const std::string_view rest = text.substr(1);
  const std::size_t dot = rest.find('.');
  if (dot == std::string_view::npos || rest.find('.', dot + 1) != std::string_view::npos) {
    throw LibraryError::badCursor();
  }
  const std::optional<std::uint64_t> dateBits = bits(rest.substr(0, dot));
  const std::optional<std::int64_t> sent = count(rest.substr(dot + 1));
  if (!dateBits || !sent) throw LibraryError::badCursor();
  const Instant date = std::bit_cast<Instant>(*dateBits);
  if (!std::isfinite(date)) throw LibraryError::badCursor();
  return Cursor::dated(date, *sent);
}

Window window(std::int64_t count, const std::function<Place(std::int64_t)>& at, const std::optional<Cursor>& after,
              std::int64_t limit) {
  count = std::max<std::int64_t>(count, 0);
  limit = std::max<std::int64_t>(limit, 1);

  std::int64_t start = 0;
  if (after && after->hasKey()) {
    // The assets already sent are those of the cursor's date (or undated,
    // for an undated cursor) whose key is not below the cursor's: a prefix
    // of the fetch, as the store orders equal dates by key, descending.
    // Others of that date that came or went move no position this depends
    // on, so nothing that stayed is skipped or repeated.
    const auto sent = [&](std::int64_t position) {
      const Place place = at(position);
      if (place.date.has_value() != after->isDated() || (place.date && *place.date != after->date())) return false;
      return place.key >= after->key();  // std::string compares its bytes as unsigned
    };
    std::int64_t low = 0;
    std::int64_t high = count;
    while (low < high) {
      const std::int64_t middle = low + (high - low) / 2;
      if (sent(middle)) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    start = low;
  } else if (after && !after->isDated()) {
    start = std::min(after->sent(), count);
  } else if (after) {
    // Skip the assets of the cursor's run already sent, but never more than
    // are still there with that exact time.
    const std::int64_t sentInRun = std::min(after->sent(), count);
    while (start < sentInRun) {
      const std::optional<Instant> date = at(start).date;
      if (!date || *date != after->date()) break;
      ++start;
    }
  }

  // Compared as remaining room so that a huge limit cannot overflow.
  if (limit >= count - start) return Window{start, count, std::nullopt};
  const std::int64_t end = start + limit;
  Place last = at(end - 1);
  return Window{start, end,
                last.date ? Cursor::datedAfter(*last.date, std::move(last.key)) : Cursor::undatedAfter(std::move(last.key))};
}

std::vector<std::pair<std::size_t, Resource>> mapped(const std::vector<ResourceInfo>& infos) {
  std::optional<std::string_view> photoName;
  std::optional<std::string_view> videoName;
  for (const ResourceInfo& info : infos) {
    if (!photoName && info.source == Source::photo) photoName = info.name;
    if (!videoName && (info.source == Source::video || info.source == Source::pairedVideo)) videoName = info.name;
  }

  std::vector<std::pair<std::size_t, Resource>> result;
  for (std::size_t i = 0; i < infos.size(); ++i) {
    const ResourceInfo& info = infos[i];
    std::string rid;
    std::string name;
    switch (info.source) {
      case Source::photo:
        rid = "photo";
        name = info.name;
        break;
      case Source::video:
      case Source::pairedVideo:
        rid = "video";
        name = info.name;
        break;
      case Source::fullSizePhoto:
        rid = "edited";
        name = editedName(photoName.value_or(videoName.value_or(info.name)), info.name);
        break;
      case Source::fullSizeVideo:
        rid = "edited";
        name = editedName(videoName.value_or(info.name), info.name);
        break;
      case Source::fullSizePairedVideo:
        rid = "editedvideo";
        name = editedName(videoName.value_or(info.name), info.name);
        break;
      case Source::alternatePhoto:
        rid = "alternate";
        name = info.name;
        break;
      case Source::other:
        continue;
    }
    const bool taken = std::any_of(result.begin(), result.end(),
                                   [&](const auto& earlier) { return earlier.second.rid == rid; });
    if (taken) continue;
    // The listing is JSON, which holds only UTF-8; a file name from a folder
    // may be any bytes. The wire gets a readable stand-in, the store keeps
    // the real name, and the file is still found by its position.
    name = Text::validUtf8(lastPathComponent(name));
    if (name.empty()) name = rid;
    std::string mime = mimeType(info.uti, name);
    result.emplace_back(i, Resource{std::move(rid), std::move(name), std::move(mime), std::nullopt});
  }
  return result;
}

std::vector<Resource> resources(const std::vector<ResourceInfo>& infos) {
  std::vector<Resource> result;
  for (auto& [position, resource] : mapped(infos)) result.push_back(std::move(resource));
  return result;
}

std::string editedName(std::string_view unedited, std::string_view edited) {
  std::string_view base = lastPathComponent(unedited);
  if (const std::size_t dot = base.rfind('.'); dot != std::string_view::npos) base = base.substr(0, dot);
  // Taken from the last path component, so that a "." in a folder name is
  // never mistaken for the start of the extension.
  const std::string_view ext = extension(lastPathComponent(edited));
  std::string stem;
  if (base.starts_with("IMG_")) {
    stem.append("IMG_E").append(base.substr(4));
  } else {
    stem.append(base).append("_E");
  }
  if (!ext.empty()) stem.append(".").append(ext);
  return stem;
}

std::string kind(bool isVideo, const std::vector<Resource>& resources) {
  if (isVideo) return "video";
  const bool paired = std::any_of(resources.begin(), resources.end(),
                                  [](const Resource& resource) { return resource.rid == "video"; });
  return paired ? "live" : "photo";
}

std::string mimeType(std::string_view uti, std::string_view name) {
  return std::string(MimeTypes::mimeFor(uti, name).value_or("application/octet-stream"));
}

std::string time(Instant instant, std::string_view zone) {
  static DateFormatter formatter("yyyy-MM-dd'T'HH:mm:ssXXXXX", "en_US_POSIX");
  // Four-digit years of the common era only, whatever a store holds: a
  // year 0 or 10000 would not read back as the same form. A day inside
  // each end leaves room for any zone's offset.
  if (std::isnan(instant)) instant = kUnixEpoch;
  instant = std::clamp(instant, kFirstInstant, kLastInstant);
  return formatter.format((instant - kUnixEpoch) * 1000.0, zone).value_or(std::string());
}

std::string currentZone() {
  // detectHostTimeZone reads the system's setting afresh, unlike ICU's
  // default zone, which is fixed at first use. It reads the zone's name
  // into one static buffer of ICU's and leaves the locking to its callers:
  // every connection thread lists, so the calls take turns.
  static Mutex detecting;
  MutexLock hold(detecting);
  const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
  icu::UnicodeString id;
  zone->getID(id);
  std::string out;
  id.toUTF8String(out);
  return out;
}

}  // namespace lumenvale::Rows
