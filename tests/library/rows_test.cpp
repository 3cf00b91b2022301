// Tests of the paging cursor (its text both ways and the window it chooses)
// and of the naming of an asset's files.
#include "library/rows.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "library/library.h"
#include "util/identifiers.h"

namespace lumenvale {
namespace {

using Rows::Cursor;
using Rows::ResourceInfo;
using Rows::Source;
using Dates = std::vector<std::optional<Instant>>;

// 2024-05-01 12:03:59 UTC.
constexpr Instant kMay1 = 736257839.0;

std::string describe(const std::optional<Cursor>& cursor) { return cursor ? Rows::format(*cursor) : "none"; }

// keyAt is the key of a position in windowOver's fetch: descending, as the
// store orders equal dates.
std::string keyAt(std::int64_t position) {
  const std::string digits = std::to_string(999999 - position);
  return "k" + std::string(6 - digits.size(), '0') + digits;
}

Rows::Window windowOver(const Dates& dates, const std::optional<Cursor>& after, std::int64_t limit) {
  return Rows::window(
      static_cast<std::int64_t>(dates.size()),
      [&](std::int64_t position) { return Rows::Place{dates.at(static_cast<std::size_t>(position)), keyAt(position)}; },
      after, limit);
}

TEST(RowsCursor, FormatsAsTheLaptopSeesIt) {
  EXPECT_EQ(Rows::format(Cursor::datedAfter(kMay1, "IMG")), "t41c5f13397800000~SU1H");
  EXPECT_EQ(Rows::format(Cursor::datedAfter(0.0, "a")), "t0~YQ");
  EXPECT_EQ(Rows::format(Cursor::undatedAfter("\xC3\xA9?")), "u~w6k_");
  EXPECT_EQ(Rows::format(Cursor::dated(kMay1, 3)), "t41c5f13397800000.3");
  EXPECT_EQ(Rows::format(Cursor::dated(0.0, 0)), "t0.0");
  EXPECT_EQ(Rows::format(Cursor::undated(0)), "u0");
  EXPECT_EQ(Rows::format(Cursor::undated(12)), "u12");
}

TEST(RowsCursor, ParsesWellFormedTexts) {
  const std::vector<std::pair<const char*, Cursor>> cases = {
      {"u0", Cursor::undated(0)},
      {"u12", Cursor::undated(12)},
      {"u+7", Cursor::undated(7)},
      {"u-0", Cursor::undated(0)},
      {"u007", Cursor::undated(7)},
      {"u9223372036854775807", Cursor::undated(std::numeric_limits<std::int64_t>::max())},
      {"t41c5f13397800000.3", Cursor::dated(kMay1, 3)},
      {"t41C5F13397800000.3", Cursor::dated(kMay1, 3)},
      {"t0041c5f13397800000.+3", Cursor::dated(kMay1, 3)},
      {"t8000000000000000.0", Cursor::dated(-0.0, 0)},
      {"t41c5f13397800000~SU1H", Cursor::datedAfter(kMay1, "IMG")},
      {"t41C5F13397800000~SU1H", Cursor::datedAfter(kMay1, "IMG")},
      {"u~YQ", Cursor::undatedAfter("a")},
      {"u~w6k_", Cursor::undatedAfter("\xC3\xA9?")},
  };
  for (const auto& [text, cursor] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Rows::parse(text), cursor);
  }
}

TEST(RowsCursor, RefusesMalformedTexts) {
  for (const char* text :
       {"", "u", "u-1", "ux", "U5", "u 5", "u5 ", "u1.5", "u+", "u-", "u9223372036854775808", "t", "t1", "t1.2.3",
        "t.1", "t1.", "t1.-1", "t1.x", "t1.+", "t-1.1", "t+1.1", "t0x1.1", "tzz.1", "t 1.1",
        "t10000000000000000.1",   // beyond 64 bits
        "t7ff0000000000000.1",    // infinity
        "tfff0000000000000.1",    // minus infinity
        "t7ff8000000000000.1",    // not a number
        "x1", "T1.1", " u1",
        "u~", "t1~", "t~YQ", "~YQ", "x~YQ", "u1~YQ", "t1.1~YQ", "t-1~YQ", "t7ff0000000000000~YQ",
        "u~YR",      // bits past the last byte
        "u~Y",       // less than a byte
        "u~YQ==",    // padding
        "u~Y+Q",     // not URL-safe
        "u~YQ~YQ",   // two keys
        "u~_w",      // not UTF-8
        "u~YQ.", "u~ YQ"}) {
    SCOPED_TRACE(text);
    try {
      Rows::parse(text);
      ADD_FAILURE() << "accepted";
    } catch (const LibraryError& error) {
      EXPECT_EQ(error.description, LibraryError::badCursor().description);
    }
  }
}

TEST(RowsCursor, TextRoundTripsBitForBit) {
  const std::vector<Instant> dates = {0.0, -0.0, kMay1, kMay1 + 0.123456789, kUnixEpoch, -1e9,
                                      std::numeric_limits<double>::denorm_min(),
                                      std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
  for (const std::int64_t sent : {std::int64_t{0}, std::int64_t{1}, std::numeric_limits<std::int64_t>::max()}) {
    for (const Instant date : dates) {
      const Cursor cursor = Cursor::dated(date, sent);
      SCOPED_TRACE(Rows::format(cursor));
      const Cursor back = Rows::parse(Rows::format(cursor));
      EXPECT_EQ(back, cursor);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(back.date()), std::bit_cast<std::uint64_t>(date));
    }
    EXPECT_EQ(Rows::parse(Rows::format(Cursor::undated(sent))), Cursor::undated(sent));
  }
  for (const std::string key : {"a", "IMG_0001", "7A0B3C6E-0F51-4D49-9A2C-1E0C5F9A1B2D/L0/001", "caf\xC3\xA9"}) {
    SCOPED_TRACE(key);
    for (const Instant date : dates) {
      const std::string text = Rows::format(Cursor::datedAfter(date, key));
      EXPECT_EQ(Rows::parse(text), Cursor::datedAfter(date, key));
      EXPECT_EQ(text.find_first_not_of(Identifiers::idCharacters), std::string::npos) << text;
    }
    EXPECT_EQ(Rows::parse(Rows::format(Cursor::undatedAfter(key))), Cursor::undatedAfter(key));
  }
  EXPECT_NE(Cursor::datedAfter(kMay1, "a"), Cursor::datedAfter(kMay1, "b"));
  EXPECT_NE(Cursor::datedAfter(kMay1, "a"), Cursor::dated(kMay1, 0));
  EXPECT_NE(Cursor::undatedAfter("a"), Cursor::undated(0));
  // Equality is by bits: 0 and -0 are different cursors.
  EXPECT_NE(Cursor::dated(0.0, 1), Cursor::dated(-0.0, 1));
  EXPECT_NE(Cursor::dated(0.0, 1), Cursor::undated(1));
}

TEST(RowsWindow, ChoosesThePageAndTheNextCursor) {
  const Instant t = kMay1;
  const Instant older = kMay1 - 60;
  const Instant oldest = kMay1 - 120;
  const Dates five = {t + 4, t + 3, t + 2, t + 1, t};
  const Dates tenAtT = [&] {
    Dates dates(10, t);
    dates.insert(dates.end(), {older, oldest, oldest - 1});
    return dates;
  }();
  const Dates datedThenUndated = {t, older, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  const Dates undated(4, std::nullopt);

  // Every next cursor names the last asset of the page, by date and key.
  const auto after = [](const Dates& dates, std::int64_t position) -> std::optional<Cursor> {
    const std::optional<Instant> date = dates.at(static_cast<std::size_t>(position));
    return date ? Cursor::datedAfter(*date, keyAt(position)) : Cursor::undatedAfter(keyAt(position));
  };
  struct Case {
    const char* name;
    Dates dates;
    std::optional<Cursor> after;
    std::int64_t limit;
    std::int64_t start, end;
    bool next;  // a cursor naming position end - 1
  };
  const std::vector<Case> cases = {
      {"a page exactly reaching the end has no cursor", five, std::nullopt, 5, 0, 5, false},
      {"a larger limit also ends the listing", five, std::nullopt, 500, 0, 5, false},
      {"distinct times name the last one", five, std::nullopt, 4, 0, 4, true},
      {"a page inside a run names its last asset", tenAtT, std::nullopt, 4, 0, 4, true},
      {"a key continues inside the run", tenAtT, after(tenAtT, 3), 4, 4, 8, true},
      {"a key continues out of the run", tenAtT, after(tenAtT, 7), 4, 8, 12, true},
      {"a key of an older run", {older, older, oldest}, Cursor::datedAfter(older, keyAt(0)), 1, 1, 2, true},
      {"the last key of the dated ends the listing", {older, std::nullopt, std::nullopt},
       Cursor::datedAfter(older, keyAt(0)), 9, 1, 3, false},
      {"undated assets at the end of a page", datedThenUndated, std::nullopt, 4, 0, 4, true},
      {"an undated key continues", undated, after(undated, 1), 1, 2, 3, true},
      {"an undated key past the end gives nothing", undated, after(undated, 3), 3, 4, 4, false},
      // Keys compare as bytes: "z" is above every "k…", "a" below.
      {"a key above all of its time skips none of them", {t, t, older}, Cursor::datedAfter(t, "z"), 1, 0, 1, true},
      {"a key below all of its time skips them all", {t, t, older}, Cursor::datedAfter(t, "a"), 1, 2, 3, false},
      {"a key whose time is gone starts at the top", {older, older, oldest}, Cursor::datedAfter(t, keyAt(1)), 2, 0, 2,
       true},
      // Cursors from before keys still position as they did.
      {"a count inside the run", tenAtT, Cursor::dated(t, 4), 4, 4, 8, true},
      {"a count leaving the run", tenAtT, Cursor::dated(t, 8), 4, 8, 12, true},
      {"a count skips only as many as remain at that time", {t, t, older, oldest}, Cursor::dated(t, 3), 1, 2, 3,
       true},
      {"a count whose time is gone starts at the top", {older, older, oldest}, Cursor::dated(t, 2), 2, 0, 2, true},
      {"a count from another time is not carried", {t, older, older, oldest}, Cursor::dated(t, 1), 2, 1, 3, true},
      {"an undated count", undated, Cursor::undated(2), 1, 2, 3, true},
      {"an undated count reaching the end", undated, Cursor::undated(2), 2, 2, 4, false},
      {"a dated count is not carried into undated", {older, std::nullopt, std::nullopt, std::nullopt},
       Cursor::dated(older, 1), 2, 1, 3, true},
      {"an undated count past the end gives nothing", undated, Cursor::undated(99), 3, 4, 4, false},
      {"a dated count past the end stops at the end", Dates(3, t), Cursor::dated(t, 9), 3, 3, 3, false},
      {"an empty fetch", {}, std::nullopt, 3, 0, 0, false},
      {"a limit below 1 is taken as 1", five, std::nullopt, 0, 0, 1, true},
      {"a huge limit does not overflow", five, Cursor::undated(0), std::numeric_limits<std::int64_t>::max(), 0, 5,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rows::Window window = windowOver(c.dates, c.after, c.limit);
    EXPECT_EQ(window.start, c.start);
    EXPECT_EQ(window.end, c.end);
    EXPECT_EQ(describe(window.next), describe(c.next ? after(c.dates, c.end - 1) : std::nullopt));
  }
}

// A keyed cursor finds its place by halving, so that a burst of thousands
// of photos in one second costs a few reads per page, not one per photo.
TEST(RowsWindow, AKeyFindsItsPlaceInFewReads) {
  const Dates burst(100000, kMay1);
  int reads = 0;
  const Rows::Window window = Rows::window(
      static_cast<std::int64_t>(burst.size()),
      [&](std::int64_t position) {
        ++reads;
        return Rows::Place{burst.at(static_cast<std::size_t>(position)), keyAt(position)};
      },
      Cursor::datedAfter(kMay1, keyAt(0)), 10);
  EXPECT_EQ(window.start, 1);
  EXPECT_LE(reads, 20);
}

TEST(RowsNaming, MapsStoreFilesToResources) {
  struct Case {
    const char* name;
    std::vector<ResourceInfo> infos;
    std::vector<std::pair<std::size_t, Resource>> expected;
  };
  const auto resource = [](const char* rid, const char* name, const char* mime) {
    return Resource{rid, name, mime, std::nullopt};
  };
  const std::vector<Case> cases = {
      {"a Live Photo",
       {{Source::photo, "IMG_0042.HEIC", "public.heic"},
        {Source::pairedVideo, "IMG_0042.MOV", "com.apple.quicktime-movie"}},
       {{0, resource("photo", "IMG_0042.HEIC", "image/heic")},
        {1, resource("video", "IMG_0042.MOV", "video/quicktime")}}},
      {"an edited Live Photo with its adjustments",
       {{Source::photo, "IMG_0042.HEIC", "public.heic"},
        {Source::pairedVideo, "IMG_0042.MOV", "com.apple.quicktime-movie"},
        {Source::other, "Adjustments.plist", "com.apple.property-list"},
        {Source::fullSizePhoto, "FullSizeRender.jpg", "public.jpeg"},
        {Source::fullSizePairedVideo, "FullSizeRender.mov", "com.apple.quicktime-movie"}},
       {{0, resource("photo", "IMG_0042.HEIC", "image/heic")},
        {1, resource("video", "IMG_0042.MOV", "video/quicktime")},
        {3, resource("edited", "IMG_E0042.jpg", "image/jpeg")},
        {4, resource("editedvideo", "IMG_E0042.mov", "video/quicktime")}}},
      {"an edited video",
       {{Source::video, "DSC_1.MOV", ""}, {Source::fullSizeVideo, "render.mp4", "public.mpeg-4"}},
       {{0, resource("video", "DSC_1.MOV", "video/quicktime")}, {1, resource("edited", "DSC_1_E.mp4", "video/mp4")}}},
      {"an edited still of a video is named after the video",
       {{Source::video, "clip.mov", ""}, {Source::fullSizePhoto, "still.jpg", ""}},
       {{0, resource("video", "clip.mov", "video/quicktime")}, {1, resource("edited", "clip_E.jpg", "image/jpeg")}}},
      {"an edit with no original is named after itself",
       {{Source::fullSizePhoto, "FullSizeRender.jpg", "public.jpeg"}},
       {{0, resource("edited", "FullSizeRender_E.jpg", "image/jpeg")}}},
      {"the first of two photos wins",
       {{Source::photo, "a.jpg", ""}, {Source::photo, "b.jpg", ""}},
       {{0, resource("photo", "a.jpg", "image/jpeg")}}},
      {"the first edit wins",
       {{Source::photo, "IMG_1.HEIC", ""}, {Source::fullSizePhoto, "r.jpg", ""}, {Source::fullSizeVideo, "r.mov", ""}},
       {{0, resource("photo", "IMG_1.HEIC", "image/heic")}, {1, resource("edited", "IMG_E1.jpg", "image/jpeg")}}},
      {"video and paired video share one rid",
       {{Source::video, "a.mov", ""}, {Source::pairedVideo, "b.mov", ""}},
       {{0, resource("video", "a.mov", "video/quicktime")}}},
      {"an alternate keeps its name",
       {{Source::photo, "IMG_2.JPG", ""}, {Source::alternatePhoto, "IMG_2.DNG", "com.adobe.raw-image"}},
       {{0, resource("photo", "IMG_2.JPG", "image/jpeg")},
        {1, resource("alternate", "IMG_2.DNG", "image/x-adobe-dng")}}},
      {"files of no listed kind are left out and positions kept",
       {{Source::other, "sound.m4a", "public.mpeg-4-audio"}, {Source::other, "x", ""}, {Source::photo, "p.png", ""}},
       {{2, resource("photo", "p.png", "image/png")}}},
      {"an empty name becomes the rid", {{Source::photo, "", "public.jpeg"}},
       {{0, resource("photo", "photo", "image/jpeg")}}},
      {"a name is cut to its last path component", {{Source::photo, "DCIM/100APPLE/IMG_3.JPG", ""}},
       {{0, resource("photo", "IMG_3.JPG", "image/jpeg")}}},
      {"a name ending in a slash becomes the rid", {{Source::video, "clips/", ""}},
       {{0, resource("video", "video", "application/octet-stream")}}},
      {"the type identifier wins over the extension", {{Source::photo, "odd.png", "public.heic"}},
       {{0, resource("photo", "odd.png", "image/heic")}}},
      {"an unknown type identifier falls back to the extension", {{Source::photo, "x.JPEG", "com.example.what"}},
       {{0, resource("photo", "x.JPEG", "image/jpeg")}}},
      {"bytes that are not UTF-8 each become U+FFFD", {{Source::photo, "IMG_\xFF\xFE\xC3.JPG", ""}},
       {{0, resource("photo", "IMG_\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.JPG", "image/jpeg")}}},
      {"an edit of a name that is not UTF-8", {{Source::photo, "caf\xE9.JPG", ""}, {Source::fullSizePhoto, "r.jpg", ""}},
       {{0, resource("photo", "caf\xEF\xBF\xBD.JPG", "image/jpeg")},
        {1, resource("edited", "caf\xEF\xBF\xBD_E.jpg", "image/jpeg")}}},
      {"nothing known gives octet-stream", {{Source::photo, "x.zzz", "com.example.what"}},
       {{0, resource("photo", "x.zzz", "application/octet-stream")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Rows::mapped(c.infos), c.expected);
    std::vector<Resource> plain;
    for (const auto& [position, resource] : c.expected) plain.push_back(resource);
    EXPECT_EQ(Rows::resources(c.infos), plain);
  }
}

TEST(RowsNaming, StoreTypeCodes) {
  const std::vector<std::pair<int, Source>> cases = {
      {1, Source::photo},         {2, Source::video},          {3, Source::other},
      {4, Source::alternatePhoto}, {5, Source::fullSizePhoto}, {6, Source::fullSizeVideo},
      {7, Source::other},         {8, Source::other},          {9, Source::pairedVideo},
      {10, Source::fullSizePairedVideo}, {0, Source::other},   {11, Source::other}, {-1, Source::other}};
  for (const auto& [code, source] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(Rows::source(static_cast<ResourceType>(code)), source);
  }
}

TEST(RowsNaming, EditedNames) {
  const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
      {"IMG_0042.HEIC", "render.jpg", "IMG_E0042.jpg"},
      {"DSC_1.JPG", "edit.mov", "DSC_1_E.mov"},
      {"IMG_0042.HEIC", "render", "IMG_E0042"},
      {"IMG_7", "x.jpg", "IMG_E7.jpg"},
      {"a/b.c/IMG_9.HEIC", "r.JPG", "IMG_E9.JPG"},
      {"photo.final.png", "render.jpg", "photo.final_E.jpg"},
      {"IMG_1.HEIC", "renders.v2/render", "IMG_E1"},
      {"img_5.jpg", "r.jpg", "img_5_E.jpg"},
  };
  for (const auto& [unedited, edited, expected] : cases) {
    SCOPED_TRACE(std::string(unedited) + " as " + edited);
    EXPECT_EQ(Rows::editedName(unedited, edited), expected);
  }
}

TEST(RowsNaming, Kind) {
  const Resource photo{"photo", "a.jpg", "image/jpeg", std::nullopt};
  const Resource video{"video", "a.mov", "video/quicktime", std::nullopt};
  const Resource edited{"edited", "a.mov", "video/quicktime", std::nullopt};
  EXPECT_EQ(Rows::kind(true, {video}), "video");
  EXPECT_EQ(Rows::kind(true, {}), "video");
  EXPECT_EQ(Rows::kind(false, {photo, video}), "live");
  EXPECT_EQ(Rows::kind(false, {photo, edited}), "photo");
  EXPECT_EQ(Rows::kind(false, {}), "photo");
}

TEST(RowsTime, WritesLocalWallClockWithOffset) {
  const std::vector<std::tuple<Instant, const char*, const char*>> cases = {
      {kMay1, "UTC", "2024-05-01T12:03:59Z"},
      {kMay1, "Europe/Berlin", "2024-05-01T14:03:59+02:00"},
      {kMay1, "Asia/Kolkata", "2024-05-01T17:33:59+05:30"},
      {kMay1, "America/St_Johns", "2024-05-01T09:33:59-02:30"},
      {kMay1 + 0.999, "UTC", "2024-05-01T12:03:59Z"},
      {kUnixEpoch, "UTC", "1970-01-01T00:00:00Z"},
      {kUnixEpoch, "Europe/Paris", "1970-01-01T01:00:00+01:00"},
      {kUnixEpoch, "Africa/Monrovia", "1969-12-31T23:15:30-00:44:30"},
      {kMay1, "Not/AZone", "2024-05-01T12:03:59Z"},
      // Far from today: Gregorian throughout, and four-digit years only.
      {-63113817600.0, "UTC", "0001-01-02T00:00:00Z"},
      {-63113904000.0, "UTC", "0001-01-02T00:00:00Z"},
      {-1e18, "UTC", "0001-01-02T00:00:00Z"},
      {-std::numeric_limits<double>::infinity(), "UTC", "0001-01-02T00:00:00Z"},
      {-12622780800.0, "UTC", "1601-01-01T00:00:00Z"},
      {-13569552000.0, "UTC", "1571-01-01T00:00:00Z"},
      {-10418544000.0, "UTC", "1670-11-07T00:00:00Z"},
      {7857648000.0, "UTC", "2250-01-01T00:00:00Z"},
      {8488800000.0, "UTC", "2270-01-01T00:00:00Z"},
      {252423907199.0, "UTC", "9999-12-30T23:59:59Z"},
      {252423907200.0, "Pacific/Kiritimati", "9999-12-31T14:00:00+14:00"},
      {1e18, "UTC", "9999-12-31T00:00:00Z"},
      {std::numeric_limits<double>::infinity(), "UTC", "9999-12-31T00:00:00Z"},
      {std::numeric_limits<double>::quiet_NaN(), "UTC", "1970-01-01T00:00:00Z"},
  };
  for (const auto& [instant, zone, expected] : cases) {
    SCOPED_TRACE(zone);
    EXPECT_EQ(Rows::time(instant, zone), expected);
  }
}

// Every connection thread asks for the zone as it lists; ICU reads the
// zone's name into one buffer of its own, so unguarded calls at once could
// see each other's half-written name.
TEST(RowsTime, CurrentZoneFromManyThreadsAtOnce) {
  const std::string alone = Rows::currentZone();
  ASSERT_FALSE(alone.empty());
  std::vector<std::thread> threads;
  std::vector<std::vector<std::string>> seen(8);
  for (auto& mine : seen) {
    threads.emplace_back([&mine] {
      for (int i = 0; i < 200; ++i) mine.push_back(Rows::currentZone());
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& mine : seen) {
    for (const std::string& zone : mine) EXPECT_EQ(zone, alone);
  }
}

}  // namespace
}  // namespace lumenvale
