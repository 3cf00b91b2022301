// What the Photos tab shows, worked out apart from any toolkit: which
// loaded assets the chosen filter keeps, how they fall into months, and
// when the tab asks for another page.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "library/asset.h"

namespace lumenvale {

enum class SafeFilter { all, notYet, safe };

namespace PhotosRules {

// The tab reads the library this many assets at a time, and keeps reading
// until the filter shows at least kWanted assets or the listing ends.
inline constexpr int kPageSize = 300;
inline constexpr std::size_t kWanted = 120;

// shown returns the positions of the loaded assets (one safe flag each)
// that `filter` keeps, in order.
std::vector<std::size_t> shown(const std::vector<bool>& safe, SafeFilter filter);

// wantsMore: another page is needed for the screen to be full.
inline bool wantsMore(std::size_t shownCount, bool done) { return !done && shownCount < kWanted; }

}  // namespace PhotosRules

struct Month {
  std::size_t id = 0;                // its place among the months
  std::string title;                 // "May 2024"
  std::vector<std::size_t> indices;  // positions in the loaded assets
  bool operator==(const Month&) const = default;
};

// months groups the shown positions, in order, into runs of one month's
// title: months follow the listing, newest first, and a month that spans two
// pages stays one.
std::vector<Month> months(const std::vector<std::size_t>& shown, const std::vector<Asset>& assets);

// GridRow is one row of the month grid: a month's title, or up to
// `columns` of its positions.
struct GridRow {
  std::string title;               // set on a title row
  std::vector<std::size_t> tiles;  // set on a row of tiles
  bool operator==(const GridRow&) const = default;
};

// gridRows lays the months out: each month's title, then its positions
// `columns` to a row (at least 1).
std::vector<GridRow> gridRows(const std::vector<Month>& months, std::size_t columns);

// columnsFor is how many tiles a row of the grid holds in a tab `width`
// points wide: as many of about 120 points as fit beside 16-point margins,
// and never fewer than 3 (a 320-point phone).
int columnsFor(double width);

// durationBadge is a video's length on its tile, whole seconds as minutes
// and seconds (75.4 -> "1:15"), or "" for anything that is not a video with
// a duration.
std::string durationBadge(const Asset& asset);

}  // namespace lumenvale
