#include "screens/photos_rules.h"

#include <algorithm>
#include <cmath>

#include "util/format.h"

namespace lumenvale {

std::vector<std::size_t> PhotosRules::shown(const std::vector<bool>& safe, SafeFilter filter) {
  std::vector<std::size_t> positions;
  positions.reserve(safe.size());
  for (std::size_t i = 0; i < safe.size(); ++i) {
    if (filter == SafeFilter::all || (filter == SafeFilter::safe) == safe[i]) positions.push_back(i);
  }
  return positions;
}

std::vector<Month> months(const std::vector<std::size_t>& shown, const std::vector<Asset>& assets) {
  std::vector<Month> made;
  for (const std::size_t position : shown) {
    if (position >= assets.size()) continue;
    std::string title = Format::monthTitle(assets[position].created);
    if (made.empty() || made.back().title != title) made.push_back({made.size(), std::move(title), {}});
    made.back().indices.push_back(position);
  }
  return made;
}

std::vector<GridRow> gridRows(const std::vector<Month>& months, std::size_t columns) {
  columns = std::max<std::size_t>(columns, 1);
  std::vector<GridRow> rows;
  for (const Month& month : months) {
    rows.push_back({month.title, {}});
    for (std::size_t i = 0; i < month.indices.size(); i += columns) {
      const auto begin = month.indices.begin() + static_cast<std::ptrdiff_t>(i);
      const auto end = month.indices.begin() + static_cast<std::ptrdiff_t>(std::min(i + columns, month.indices.size()));
      rows.push_back({"", std::vector<std::size_t>(begin, end)});
    }
  }
  return rows;
}

std::string durationBadge(const Asset& asset) {
  if (asset.kind != "video" || !asset.duration || !std::isfinite(*asset.duration) || *asset.duration < 0) return "";
  // Cast only what an int64 holds: a broken file may claim any length.
  return Format::countdown(static_cast<std::int64_t>(std::min(*asset.duration, 9.0e15)));
}

int columnsFor(double width) {
  if (!(width > 0)) return 3;  // no width yet, or not a number
  const double fit = std::floor((width - 32.0) / 120.0);
  return static_cast<int>(std::clamp(fit, 3.0, 64.0));
}

}  // namespace lumenvale
