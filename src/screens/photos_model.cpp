#include "screens/photos_model.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

#include "screens/background.h"
#include "screens/qt_main_queue.h"

namespace lumenvale {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

// takenText writes an asset's creation time the way the viewer shows it,
// in this device's time zone: "Wednesday, May 1, 2024 · 2:03 PM"; a text
// that is not a date is shown as it stands.
QString takenText(const std::string& created) {
  const QDateTime when = QDateTime::fromString(text(created), Qt::ISODate);
  if (!when.isValid()) return text(created);
  return QLocale(QLocale::English, QLocale::UnitedStates)
      .toString(when.toLocalTime(), QStringLiteral("dddd, MMMM d, yyyy \u00B7 h:mm AP"));
}

}  // namespace

PhotosModel::PhotosModel(Sources sources, QObject* parent) : QAbstractListModel(parent), sources_(std::move(sources)) {}

PhotosModel::~PhotosModel() { *alive_ = false; }

int PhotosModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant PhotosModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
  const GridRow& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case KindRole: return row.tiles.empty() ? QStringLiteral("month") : QStringLiteral("tiles");
    case TitleRole: return text(row.title);
    case TilesRole: {
      QVariantList tiles;
      for (const std::size_t position : row.tiles) tiles.append(tile(position));
      return tiles;
    }
    case LastRole: return !row.tiles.empty() && !shown_.empty() && row.tiles.back() == shown_.back();
    default: return {};
  }
}

QHash<int, QByteArray> PhotosModel::roleNames() const {
  return {{KindRole, "kind"}, {TitleRole, "title"}, {TilesRole, "tiles"}, {LastRole, "last"}};
}

QVariantMap PhotosModel::tile(std::size_t position) const {
  const Asset& asset = assets_[position];
  return {{"position", static_cast<int>(position)},
          {"id", text(asset.id)},
          {"safe", static_cast<bool>(safe_[position])},
          {"badge", text(durationBadge(asset))}};
}

QString PhotosModel::filter() const {
  switch (filter_) {
    case SafeFilter::notYet: return QStringLiteral("notYet");
    case SafeFilter::safe: return QStringLiteral("safe");
    case SafeFilter::all: break;
  }
  return QStringLiteral("all");
}

void PhotosModel::setFilter(const QString& filter) {
  const SafeFilter chosen = filter == QLatin1String("notYet") ? SafeFilter::notYet
                            : filter == QLatin1String("safe") ? SafeFilter::safe
                                                               : SafeFilter::all;
  if (chosen == filter_) return;
  filter_ = chosen;
  relayout(true);
}

void PhotosModel::setColumns(int columns) {
  const std::size_t wanted = static_cast<std::size_t>(std::max(columns, 1));
  if (wanted == columns_) return;
  columns_ = wanted;
  relayout();
}

void PhotosModel::setTabWidth(qreal width) {
  tabWidth_ = width;
  setColumns(columnsFor(width));
}

qint64 PhotosModel::allCount() const { return counts_ ? std::max<std::int64_t>(counts_->second, 0) : 0; }

qint64 PhotosModel::safeCount() const {
  return counts_ ? std::clamp<std::int64_t>(counts_->first, 0, allCount()) : 0;
}

int PhotosModel::percent() const {
  const qint64 all = allCount();
  return all == 0 ? 0 : static_cast<int>(safeCount() * 100 / all);
}

QString PhotosModel::emptyKey() const {
  if (!done_) return {};
  if (assets_.empty()) return QStringLiteral("photos.empty");
  if (shown_.empty()) return QStringLiteral("photos.filter.empty");
  return {};
}

void PhotosModel::appeared() {
  started_ = true;
  ++generation_;
  beginResetModel();
  assets_.clear();
  safe_.clear();
  shown_.clear();
  rows_.clear();
  next_.reset();
  done_ = false;
  loading_ = false;
  endResetModel();
  recount();
  emit changed();
  relayout();
}

void PhotosModel::more() {
  if (!started_ || done_ || loading_) return;
  loading_ = true;
  emit changed();
  Background::run([page = sources_.page, after = next_, generation = generation_, alive = alive_, this] {
    std::optional<Page> read;
    try {
      if (page) read = page(after, PhotosRules::kPageSize);
    } catch (...) {
      read.reset();  // a failed load ends loading; what was loaded stays
    }
    onMainThread([alive, this, generation, read = std::move(read)]() mutable {
      if (*alive) received(generation, std::move(read));
    });
  });
}

void PhotosModel::received(std::uint64_t generation, std::optional<Page> page) {
  if (generation != generation_) return;
  loading_ = false;
  if (!page) {
    done_ = true;
  } else {
    for (Asset& asset : page->assets) {
      safe_.push_back(sources_.safeOn && !sources_.safeOn(asset).empty());
      assets_.push_back(std::move(asset));
    }
    next_ = page->next;
    done_ = !next_.has_value();
  }
  emit changed();
  relayout();
}

void PhotosModel::recount() {
  if (!sources_.count) return;
  Background::run([count = sources_.count, alive = alive_, this] {
    std::optional<std::pair<std::int64_t, std::int64_t>> counted;
    try {
      counted = count();
    } catch (...) {
      counted.reset();
    }
    onMainThread([alive, this, counted] {
      if (!*alive || !counted) return;
      counts_ = counted;
      emit changed();
    });
  });
}

void PhotosModel::foldersChanged() {
  if (started_) appeared();
}

void PhotosModel::marksChanged() {
  for (std::size_t i = 0; i < assets_.size(); ++i) safe_[i] = sources_.safeOn && !sources_.safeOn(assets_[i]).empty();
  recount();
  relayout(true);
}

void PhotosModel::relayout(bool everyRow) {
  const std::size_t lastBefore = rows_.size();
  shown_ = PhotosRules::shown(safe_, filter_);
  std::vector<GridRow> rows = gridRows(months(shown_, assets_), columns_);
  // Rows that stayed are kept, so a view keeps its place while pages
  // arrive; the ones that differ are told as changed.
  const std::size_t common = std::min(rows.size(), rows_.size());
  if (rows.size() > rows_.size()) {
    beginInsertRows(QModelIndex(), static_cast<int>(rows_.size()), static_cast<int>(rows.size()) - 1);
    rows_.insert(rows_.end(), rows.begin() + static_cast<std::ptrdiff_t>(common), rows.end());
    endInsertRows();
  } else if (rows.size() < rows_.size()) {
    beginRemoveRows(QModelIndex(), static_cast<int>(rows.size()), static_cast<int>(rows_.size()) - 1);
    rows_.resize(rows.size());
    endRemoveRows();
  }
  // The tiles show the safe flags, which GridRow does not hold: after the
  // marks changed every row is told; otherwise the rows that differ, and
  // the one that held the last tile (it no longer asks for more).
  for (std::size_t i = 0; i < common; ++i) {
    if (!everyRow && rows_[i] == rows[i] && i + 1 != lastBefore) continue;
    rows_[i] = rows[i];
    const QModelIndex at = index(static_cast<int>(i));
    emit dataChanged(at, at);
  }
  emit changed();
  if (PhotosRules::wantsMore(shown_.size(), done_)) more();
}

QVariantMap PhotosModel::asset(int position) const {
  if (position < 0 || static_cast<std::size_t>(position) >= assets_.size()) return {};
  const Asset& asset = assets_[static_cast<std::size_t>(position)];
  QStringList names;
  if (sources_.safeOn) {
    for (const std::string& name : sources_.safeOn(asset)) names.append(text(name));
  }
  return {{"id", text(asset.id)},
          {"date", takenText(asset.created)},
          {"width", static_cast<qint64>(asset.width)},
          {"height", static_cast<qint64>(asset.height)},
          {"safeOn", names}};
}

}  // namespace lumenvale
