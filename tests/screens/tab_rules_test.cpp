// Tests of the Photos and Laptops tabs' decisions: the filter, the months,
// the grid rows, the video badge, the code's seconds and "now".
#include <gtest/gtest.h>

#include <cmath>

#include "screens/laptops_rules.h"
#include "screens/photos_rules.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

Asset made(const std::string& id, const std::string& created, const std::string& kind = "photo",
           std::optional<double> duration = std::nullopt) {
  Asset asset;
  asset.id = id;
  asset.kind = kind;
  asset.created = created;
  asset.duration = duration;
  return asset;
}

TEST(PhotosRules, TheFilterKeepsPositionsInOrder) {
  const std::vector<bool> safe{true, false, false, true, false};
  using Positions = std::vector<std::size_t>;
  EXPECT_EQ(PhotosRules::shown(safe, SafeFilter::all), (Positions{0, 1, 2, 3, 4}));
  EXPECT_EQ(PhotosRules::shown(safe, SafeFilter::notYet), (Positions{1, 2, 4}));
  EXPECT_EQ(PhotosRules::shown(safe, SafeFilter::safe), (Positions{0, 3}));
  EXPECT_TRUE(PhotosRules::shown({}, SafeFilter::safe).empty());
  EXPECT_TRUE(PhotosRules::shown({false, false}, SafeFilter::safe).empty());

  EXPECT_TRUE(PhotosRules::wantsMore(0, false));
  EXPECT_TRUE(PhotosRules::wantsMore(119, false));
  EXPECT_FALSE(PhotosRules::wantsMore(120, false));
  EXPECT_FALSE(PhotosRules::wantsMore(0, true));
}

TEST(PhotosRules, MonthsFollowTheListingAndSpanPages) {
  // Two pages that both hold May 2024: one section, in listing order.
  std::vector<Asset> assets{made("a", "2024-06-02T10:00:00+02:00"), made("b", "2024-05-31T23:00:00Z"),
                            made("c", "2024-05-01T08:00:00Z")};
  const std::vector<Asset> second{made("d", "2024-05-01T07:00:00Z"), made("e", "2023-12-24T18:00:00Z"),
                                  made("f", "not a date")};
  assets.insert(assets.end(), second.begin(), second.end());
  const std::vector<Month> all = months({0, 1, 2, 3, 4, 5}, assets);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0], (Month{0, "June 2024", {0}}));
  EXPECT_EQ(all[1], (Month{1, "May 2024", {1, 2, 3}}));
  EXPECT_EQ(all[2], (Month{2, "December 2023", {4}}));
  EXPECT_EQ(all[3], (Month{3, "", {5}}));

  // A filter that drops June starts with May, numbered from 0.
  const std::vector<Month> some = months({1, 3, 4}, assets);
  ASSERT_EQ(some.size(), 2u);
  EXPECT_EQ(some[0], (Month{0, "May 2024", {1, 3}}));
  EXPECT_TRUE(months({}, assets).empty());
}

TEST(PhotosRules, GridRowsPutEachMonthOnRowsOfItsOwn) {
  const std::vector<Month> list{{0, "May 2024", {0, 1, 2, 3}}, {1, "April 2024", {4}}};
  const std::vector<GridRow> rows = gridRows(list, 3);
  const std::vector<GridRow> expected{{"May 2024", {}}, {"", {0, 1, 2}}, {"", {3}}, {"April 2024", {}}, {"", {4}}};
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(gridRows(list, 0).size(), 2u + 4u + 1u);  // one column at least
}

TEST(PhotosRules, ColumnsFollowTheWidth) {
  const struct {
    double width;
    int columns;
  } cases[] = {{320, 3}, {360, 3}, {390, 3}, {512, 4}, {720, 5}, {1000, 8}, {0, 3}, {-5, 3}, {1e9, 64}};
  for (const auto& c : cases) EXPECT_EQ(columnsFor(c.width), c.columns) << c.width;
  EXPECT_EQ(columnsFor(std::nan("")), 3);
}

TEST(PhotosRules, OnlyVideosWithADurationGetABadge) {
  struct Case {
    const char* kind;
    std::optional<double> duration;
    const char* badge;
  };
  const Case cases[] = {
      {"video", 75.4, "1:15"},    {"video", 0.0, "0:00"},
      {"video", 3600.0, "60:00"}, {"video", std::nullopt, ""},
      {"photo", 12.0, ""},        {"live", 3.0, ""},
      {"video", -1.0, ""},        {"video", 1e300, "150000000000000:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + (c.duration ? std::to_string(*c.duration) : "none"));
    EXPECT_EQ(durationBadge(made("v", "2024-05-01T00:00:00Z", c.kind, c.duration)), c.badge);
  }
}

TEST(LaptopsRules, TheFingerprintIsShownInSixteenGroupsOfFour) {
  const std::string fingerprint = "3f9a0c1b2d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8";
  const std::vector<std::string> groups = LaptopsRules::fingerprintGroups(fingerprint);
  ASSERT_EQ(groups.size(), 16u);
  EXPECT_EQ(groups.front(), "3f9a");
  EXPECT_EQ(groups[1], "0c1b");
  EXPECT_EQ(groups.back(), "d7e8");
  std::string joined;
  for (const std::string& group : groups) joined += group;
  EXPECT_EQ(joined, fingerprint);  // nothing dropped, nothing reordered

  struct Case {
    const char* name;
    std::string text;
  };
  const Case refused[] = {
      {"not loaded yet", ""},
      {"one digit short", fingerprint.substr(1)},
      {"one digit over", fingerprint + "0"},
      {"upper case", "3F9A" + fingerprint.substr(4)},
      {"not hex", "3f9g" + fingerprint.substr(4)},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(LaptopsRules::fingerprintGroups(c.text).empty());
  }
}

TEST(LaptopsRules, SecondsLeftRoundUpAndNeverGoBelowZero) {
  const TimePoint now = TimePoint{} + 1000s;
  EXPECT_EQ(LaptopsRules::secondsLeft(now + 200ms, now), 1);
  EXPECT_EQ(LaptopsRules::secondsLeft(now + 254s, now), 254);
  EXPECT_EQ(LaptopsRules::secondsLeft(now + 254s + 1ms, now), 255);
  EXPECT_EQ(LaptopsRules::secondsLeft(now, now), 0);
  EXPECT_EQ(LaptopsRules::secondsLeft(now - 5s, now), 0);
}

TEST(LaptopsRules, ALaptopIsHereForThirtySecondsAfterItsRequest) {
  HubState state;
  const Laptop maya{"id-1", "Maya's MacBook", "", 0};
  const Laptop other{"id-2", "Studio", "", 0};
  const TimePoint seen = TimePoint{} + 5000s;
  state.lastLaptop = maya.name;
  state.lastSeen = seen;
  EXPECT_TRUE(LaptopsRules::isLive(state, maya, seen + 29s));
  EXPECT_FALSE(LaptopsRules::isLive(state, maya, seen + 30s));
  EXPECT_FALSE(LaptopsRules::isLive(state, other, seen + 1s));
  state.lastLaptop.reset();
  EXPECT_FALSE(LaptopsRules::isLive(state, maya, seen + 1s));
}

}  // namespace
}  // namespace lumenvale
