// Tests of the asset's JSON form and of value equality.
#include "library/asset.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace lumenvale {
namespace {

Asset livePhoto() {
  return Asset{"QUJD",
               "live",
               "2024-05-01T14:03:59+02:00",
               "2024-05-01T14:03:59+02:00",
               4032,
               3024,
               std::nullopt,
               {Resource{"photo", "IMG_0042.HEIC", "image/heic", std::nullopt},
                Resource{"video", "IMG_0042.MOV", "video/quicktime", std::nullopt}}};
}

TEST(AssetJson, HoldsExactlyTheListedKeysWithNullsForAbsentValues) {
  const nlohmann::json json = livePhoto().json();
  EXPECT_EQ(json, nlohmann::json::parse(R"({
      "id": "QUJD", "kind": "live",
      "created": "2024-05-01T14:03:59+02:00", "modified": "2024-05-01T14:03:59+02:00",
      "width": 4032, "height": 3024, "duration": null,
      "resources": [
        {"rid": "photo", "name": "IMG_0042.HEIC", "mime": "image/heic", "size": null},
        {"rid": "video", "name": "IMG_0042.MOV", "mime": "video/quicktime", "size": null}]})"));
  // A media type travels with its slash unescaped.
  EXPECT_NE(json.dump().find("\"image/heic\""), std::string::npos);
}

TEST(AssetJson, EdgeValues) {
  struct Case {
    const char* name;
    std::function<void(Asset&)> change;
    const char* key;
    nlohmann::json expected;
  };
  const std::vector<Case> cases = {
      {"no resources is an empty array", [](Asset& a) { a.resources.clear(); }, "resources", nlohmann::json::array()},
      {"a video's duration is a number", [](Asset& a) { a.duration = 7.25; }, "duration", 7.25},
      {"a photo's duration is null", [](Asset& a) { a.duration.reset(); }, "duration", nullptr},
      {"a width beyond 32 bits stays whole", [](Asset& a) { a.width = 5'000'000'000; }, "width", 5'000'000'000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Asset asset = livePhoto();
    c.change(asset);
    const nlohmann::json json = asset.json();
    ASSERT_TRUE(json.contains(c.key));
    EXPECT_EQ(json.at(c.key), c.expected);
    EXPECT_EQ(json.size(), 8u);
  }
}

TEST(AssetEquality, EveryFieldCounts) {
  const std::vector<std::pair<const char*, std::function<void(Asset&)>>> changes = {
      {"id", [](Asset& a) { a.id += "x"; }},
      {"kind", [](Asset& a) { a.kind = "photo"; }},
      {"created", [](Asset& a) { a.created = "2024-05-01T14:04:00+02:00"; }},
      {"modified", [](Asset& a) { a.modified = "2024-05-01T14:04:00+02:00"; }},
      {"width", [](Asset& a) { ++a.width; }},
      {"height", [](Asset& a) { ++a.height; }},
      {"duration", [](Asset& a) { a.duration = 0.0; }},
      {"resource order", [](Asset& a) { std::swap(a.resources[0], a.resources[1]); }},
      {"one resource's mime", [](Asset& a) { a.resources[1].mime = "video/mp4"; }},
      {"one resource's name", [](Asset& a) { a.resources[0].name = "IMG_0043.HEIC"; }},
      {"one resource's rid", [](Asset& a) { a.resources[0].rid = "edited"; }},
      {"one resource's size", [](Asset& a) { a.resources[0].size = 0; }},
  };
  EXPECT_EQ(livePhoto(), livePhoto());
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    Asset changed = livePhoto();
    change(changed);
    EXPECT_NE(changed, livePhoto());
  }
}

TEST(Instants, ConvertWithoutLossAndHoldAtTheClocksEnds) {
  using std::chrono::microseconds;
  // Whole microseconds go there and back exactly, either side of 1970 and 2001.
  for (const std::int64_t micros : {0LL, 1LL, -1LL, 978307200000000LL, 1714571039123456LL, -2208988800000001LL}) {
    SCOPED_TRACE(micros);
    const TimePoint time{microseconds(micros)};
    EXPECT_EQ(timeOf(instantOf(time)), time);
  }
  EXPECT_EQ(instantOf(TimePoint()), kUnixEpoch);
  // Between two microseconds, the one below: "created <= instant" agrees.
  const Instant between = instantOf(TimePoint(microseconds(1714571039123456LL))) + 0.4e-6;
  EXPECT_EQ(timeOf(between), TimePoint(microseconds(1714571039123456LL)));
  // Beyond a TimePoint's years, as a cursor may carry: held at the ends.
  EXPECT_EQ(timeOf(1e300), std::chrono::floor<microseconds>(TimePoint::max()));
  EXPECT_EQ(timeOf(3.15e10), std::chrono::floor<microseconds>(TimePoint::max()));
  EXPECT_EQ(timeOf(-1e300), std::chrono::ceil<microseconds>(TimePoint::min()));
  EXPECT_EQ(timeOf(std::numeric_limits<double>::quiet_NaN()), TimePoint(microseconds(978307200000000LL)));
}

TEST(Instants, MillisecondsFromAFileAreHeldInsideTheClock) {
  using std::chrono::milliseconds;
  EXPECT_EQ(fromMillisSince1970(1714571039123.0), TimePoint(milliseconds(1714571039123LL)));
  EXPECT_EQ(millisSince1970(TimePoint(milliseconds(1714571039123LL))), 1714571039123.0);
  EXPECT_EQ(fromMillisSince1970(std::numeric_limits<double>::quiet_NaN()), TimePoint());
  EXPECT_LT(fromMillisSince1970(-1e300), TimePoint(milliseconds(-9'000'000'000'000LL)));
  EXPECT_GT(fromMillisSince1970(1e300), TimePoint(milliseconds(9'000'000'000'000LL)));
  EXPECT_GT(fromMillisSince1970(std::numeric_limits<double>::infinity()), TimePoint());
}

}  // namespace
}  // namespace lumenvale
