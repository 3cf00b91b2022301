// Tests of the Photos tab's model: pages load as the screen needs them, a
// failed load stops loading, months span pages, the filter and the counts,
// and what the viewer is told. Every model runs under Qt's model tester.
#include "screens/photos_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <atomic>
#include <mutex>
#include <set>

#include "support/qt_events.h"

namespace lumenvale {
namespace {

using testing::application;

bool settle(const std::function<bool()>& done) { return testing::runEventsUntil(done); }

// A listing of `count` assets, newest first, 40 a day from 2024-06-30
// backwards; the page calls are counted and may be made to fail.
struct Listing {
  explicit Listing(int count) {
    for (int i = 0; i < count; ++i) {
      Asset asset;
      asset.id = "a" + std::to_string(i);
      asset.kind = i % 10 == 9 ? "video" : "photo";
      if (asset.kind == "video") asset.duration = 75.4;
      const int day = 30 - (i / 40) % 30;
      const int month = 6 - (i / 40) / 30;
      char created[40];
      std::snprintf(created, sizeof created, "2024-%02d-%02dT14:03:00Z", month, day);
      asset.created = created;
      asset.width = i == 0 ? 0 : 4032;
      asset.height = 3024;
      assets.push_back(asset);
    }
  }

  PhotosModel::Sources sources() {
    PhotosModel::Sources made;
    made.page = [this](std::optional<std::string> after, std::int64_t limit) -> std::optional<Page> {
      ++calls;
      if (failFrom >= 0 && calls > failFrom) return std::nullopt;
      const std::size_t start = after ? std::stoul(*after) : 0;
      Page page;
      for (std::size_t i = start; i < assets.size() && page.assets.size() < static_cast<std::size_t>(limit); ++i) {
        page.assets.push_back(assets[i]);
      }
      const std::size_t end = start + page.assets.size();
      if (end < assets.size()) page.next = std::to_string(end);
      return page;
    };
    made.count = [this] { return std::pair<std::int64_t, std::int64_t>(safeCount(), assets.size()); };
    made.safeOn = [this](const Asset& asset) {
      std::lock_guard<std::mutex> hold(mutex);
      return safe.count(asset.id) ? std::vector<std::string>{"Maya's MacBook", "Studio"} : std::vector<std::string>{};
    };
    return made;
  }

  std::int64_t safeCount() {
    std::lock_guard<std::mutex> hold(mutex);
    return static_cast<std::int64_t>(safe.size());
  }

  std::vector<Asset> assets;
  std::atomic<int> calls{0};
  int failFrom = -1;  // pages after this many calls fail
  std::mutex mutex;
  std::set<std::string> safe;  // guarded by mutex
};

struct Tested {
  explicit Tested(Listing& listing)
      : model(listing.sources()), tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal) {
    application();
  }
  bool idle() {
    return settle([this] { return !model.loading(); });
  }
  PhotosModel model;
  QAbstractItemModelTester tester;
};

TEST(PhotosModel, LoadsOnePageAtAppearanceAndTheNextFromTheLastTile) {
  Listing listing(1000);
  Tested t(listing);
  t.model.appeared();
  ASSERT_TRUE(t.idle());
  ASSERT_TRUE(settle([&] { return t.model.counted(); }));
  EXPECT_EQ(t.model.loaded(), 300);
  EXPECT_EQ(listing.calls.load(), 1);
  EXPECT_FALSE(t.model.done());

  // Only the final row says it is the last.
  int lastRows = 0;
  for (int row = 0; row < t.model.rowCount(); ++row) {
    if (t.model.data(t.model.index(row), PhotosModel::LastRole).toBool()) {
      ++lastRows;
      EXPECT_EQ(row, t.model.rowCount() - 1);
    }
  }
  EXPECT_EQ(lastRows, 1);

  t.model.more();
  t.model.more();  // one load at a time
  ASSERT_TRUE(t.idle());
  EXPECT_EQ(t.model.loaded(), 600);
  EXPECT_EQ(listing.calls.load(), 2);
}

TEST(PhotosModel, NewFoldersListTheLibraryAgainOnceTheTabHasAppeared) {
  Listing listing(500);
  Tested t(listing);
  t.model.foldersChanged();  // the tab was never shown: nothing to list
  EXPECT_EQ(listing.calls.load(), 0);
  t.model.appeared();
  ASSERT_TRUE(t.idle());
  t.model.more();
  ASSERT_TRUE(t.idle());
  EXPECT_EQ(t.model.loaded(), 500);

  listing.assets.resize(120);  // a folder was removed
  t.model.foldersChanged();
  ASSERT_TRUE(t.idle());
  EXPECT_EQ(t.model.loaded(), 120);
  EXPECT_EQ(listing.calls.load(), 3);
  EXPECT_TRUE(t.model.done());
}

TEST(PhotosModel, MonthsThatSpanPagesStayOneSection) {
  // 40 a day: the first 300 end inside June 23, and June runs on to 1,200.
  Listing listing(700);
  Tested t(listing);
  t.model.appeared();
  ASSERT_TRUE(t.idle());
  t.model.more();
  ASSERT_TRUE(t.idle());
  t.model.more();
  ASSERT_TRUE(t.idle());
  ASSERT_TRUE(t.model.done());
  QStringList titles;
  int tiles = 0;
  for (int row = 0; row < t.model.rowCount(); ++row) {
    const QModelIndex at = t.model.index(row);
    if (t.model.data(at, PhotosModel::KindRole).toString() == "month") {
      titles.append(t.model.data(at, PhotosModel::TitleRole).toString());
    } else {
      const QVariantList row_tiles = t.model.data(at, PhotosModel::TilesRole).toList();
      EXPECT_LE(row_tiles.size(), 3);
      tiles += static_cast<int>(row_tiles.size());
    }
  }
  EXPECT_EQ(titles, QStringList{"June 2024"});
  EXPECT_EQ(tiles, 700);
  // Row 0 is the title; row 4 starts with position 9, a video of 75.4 s.
  const QVariantMap video = t.model.data(t.model.index(4), PhotosModel::TilesRole).toList().at(0).toMap();
  EXPECT_EQ(video.value("position").toInt(), 9);
  EXPECT_EQ(video.value("badge").toString(), "1:15");
  EXPECT_EQ(video.value("safe").toBool(), false);
}

TEST(PhotosModel, AFilterThatShowsNothingLoadsToTheEnd) {
  Listing listing(1000);
  Tested t(listing);
  t.model.setFilter("safe");
  t.model.appeared();
  ASSERT_TRUE(settle([&] { return t.model.done(); }));
  EXPECT_EQ(listing.calls.load(), 4);
  EXPECT_EQ(t.model.loaded(), 1000);
  EXPECT_EQ(t.model.rowCount(), 0);
  EXPECT_EQ(t.model.emptyKey(), "photos.filter.empty");

  t.model.setFilter("all");
  EXPECT_EQ(t.model.shownCount(), 1000);
  EXPECT_EQ(t.model.emptyKey(), "");
}

TEST(PhotosModel, AnEmptyLibraryAndAFailedLoadBothEndLoading) {
  Listing empty(0);
  Tested none(empty);
  none.model.appeared();
  ASSERT_TRUE(none.idle());
  EXPECT_TRUE(none.model.done());
  EXPECT_EQ(none.model.emptyKey(), "photos.empty");

  // The second page fails: what was loaded stays, and nothing more loads,
  // not even from the last tile.
  Listing failing(1000);
  failing.failFrom = 1;
  Tested t(failing);
  t.model.setFilter("safe");  // wants more at once
  t.model.appeared();
  ASSERT_TRUE(settle([&] { return t.model.done(); }));
  EXPECT_EQ(t.model.loaded(), 300);
  t.model.more();
  EXPECT_FALSE(t.model.loading());
  EXPECT_EQ(failing.calls.load(), 2);

  // Made anew, the tab lists from the start again.
  failing.failFrom = -1;
  t.model.setFilter("all");
  t.model.appeared();
  ASSERT_TRUE(t.idle());
  EXPECT_FALSE(t.model.done());
  EXPECT_EQ(t.model.loaded(), 300);
}

TEST(PhotosModel, SafeMarksMoveTheFlagsTheFilterAndTheCounts) {
  Listing listing(200);
  Tested t(listing);
  t.model.appeared();
  ASSERT_TRUE(settle([&] { return t.model.done() && t.model.counted(); }));
  EXPECT_EQ(t.model.percent(), 0);
  EXPECT_EQ(t.model.allCount(), 200);
  {
    std::lock_guard<std::mutex> hold(listing.mutex);
    for (int i = 0; i < 50; ++i) listing.safe.insert("a" + std::to_string(i));
  }
  t.model.marksChanged();
  ASSERT_TRUE(settle([&] { return t.model.safeCount() == 50; }));
  EXPECT_EQ(t.model.percent(), 25);
  EXPECT_TRUE(t.model.data(t.model.index(1), PhotosModel::TilesRole).toList().at(0).toMap().value("safe").toBool());
  t.model.setFilter("notYet");
  EXPECT_EQ(t.model.shownCount(), 150);
  t.model.setFilter("safe");
  EXPECT_EQ(t.model.shownCount(), 50);
  t.model.setColumns(4);
  EXPECT_EQ(t.model.data(t.model.index(1), PhotosModel::TilesRole).toList().size(), 4);
}

TEST(PhotosModel, TheViewerIsToldTheDateTheSizeAndWhoHoldsIt) {
  Listing listing(3);
  listing.assets[1].created = "taken on a boat";
  {
    std::lock_guard<std::mutex> hold(listing.mutex);
    listing.safe.insert("a2");
  }
  Tested t(listing);
  t.model.appeared();
  ASSERT_TRUE(t.idle());
  const QVariantMap first = t.model.asset(0);
  EXPECT_EQ(first.value("date").toString(), QString::fromUtf8("Sunday, June 30, 2024 \u00B7 2:03 PM"));
  EXPECT_EQ(first.value("width").toLongLong(), 0);  // no size line
  EXPECT_TRUE(first.value("safeOn").toStringList().isEmpty());
  EXPECT_EQ(t.model.asset(1).value("date").toString(), "taken on a boat");
  EXPECT_EQ(t.model.asset(2).value("safeOn").toStringList(), (QStringList{"Maya's MacBook", "Studio"}));
  EXPECT_TRUE(t.model.asset(3).isEmpty());
  EXPECT_TRUE(t.model.asset(-1).isEmpty());
}

}  // namespace
}  // namespace lumenvale
