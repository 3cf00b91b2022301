#include "screens/home_model.h"

#include "screens/home_rules.h"
#include "screens/background.h"
#include "screens/qt_main_queue.h"

namespace lumenvale {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

}  // namespace

HomeModel::HomeModel(HubBridge& hub, AppRoot& root, Sources sources, QObject* parent)
    : QObject(parent), hub_(hub), root_(root), sources_(std::move(sources)) {
  // Once shown, the counts and the cover follow the marks and the library
  // (the marks store is made late in the hub's start-up; an index ends
  // after the tab first showed).
  connect(&hub_, &HubBridge::changed, this, [this] {
    if (everShown_ && (hub_.marks() != countedMarks_ || hub_.library() != countedLibrary_)) {
      if (hub_.library() != countedLibrary_) pickCover();
      recount();
    }
    describeCurrent();
    emit changed();
  });
  connect(&root_, &AppRoot::changed, this, &HomeModel::changed);
  copiedTimer_.setSingleShot(true);
  copiedTimer_.setTimerType(Qt::PreciseTimer);
  copiedTimer_.setInterval(2000);
  connect(&copiedTimer_, &QTimer::timeout, this, [this] {
    copied_.clear();
    emit changed();
  });
}

HomeModel::~HomeModel() { *alive_ = false; }

QString HomeModel::onPhone() const { return text(HomeRules::counters(counts_).onPhone); }
QString HomeModel::safe() const { return text(HomeRules::counters(counts_).safe); }
QString HomeModel::notSafe() const { return text(HomeRules::counters(counts_).notSafe); }

QVariantList HomeModel::notices() const {
  QVariantList list;
  for (const HomeRules::Notice& notice : HomeRules::notices(hub_.failed(), root_.libraryAccess(), hub_.fromCloud(),
                                                            hub_.lateDeleted(), root_.catalogRebuilt())) {
    list.append(QVariantMap{{"key", text(notice.key)},
                            {"tone", text(notice.tone)},
                            {"icon", text(notice.icon)},
                            {"action", text(notice.action)}});
  }
  return list;
}

QVariantList HomeModel::addressRows() const {
  QVariantList rows;
  for (const QVariant& address : hub_.addresses()) {
    const QVariantMap entry = address.toMap();
    rows.append(QVariantMap{{"text", entry.value("ip").toString() + QLatin1Char(':') + QString::number(hub_.port())},
                            {"interface", entry.value("interface")}});
  }
  return rows;
}

QString HomeModel::codeFirst() const { return text(HomeRules::pairingCodeParts(hub_.code().toStdString()).first); }

QString HomeModel::codeSecond() const {
  return text(HomeRules::pairingCodeParts(hub_.code().toStdString()).second.value_or(""));
}

void HomeModel::shown() {
  everShown_ = true;
  recount();
  pickCover();
}

void HomeModel::pickCover() {
  if (!sources_.firstPage) return;
  Background::run([this, alive = alive_, firstPage = sources_.firstPage] {
    // A library that fails to list leaves the cover empty, as none does.
    std::optional<std::string> picked;
    try {
      picked = HomeRules::cover(firstPage());
    } catch (const std::exception&) {
      picked.reset();
    }
    onMainThread([this, alive, picked] {
      if (!*alive) return;
      cover_ = text(picked.value_or(""));
      emit changed();
    });
  });
}

void HomeModel::describeCurrent() {
  const QString asset = hub_.currentAsset();
  if (asset == describedAsset_) return;
  describedAsset_ = asset;
  current_ = {};
  if (asset.isEmpty() || !sources_.describe) return;
  Background::run([this, alive = alive_, describe = sources_.describe, asset] {
    AssetLine line;
    try {
      line = describe(asset);
    } catch (const std::exception&) {
      line = {};
    }
    onMainThread([this, alive, asset, line] {
      // A later file may be under way by now: only its own lines show.
      if (!*alive || asset != describedAsset_) return;
      current_ = line;
      emit changed();
    });
  });
}

void HomeModel::recount() {
  countedMarks_ = hub_.marks();
  countedLibrary_ = hub_.library();
  if (!sources_.count) return;
  Background::run([this, alive = alive_, count = sources_.count] {
    // Counts that cannot be made stay en dashes.
    std::optional<std::pair<std::int64_t, std::int64_t>> counted;
    try {
      counted = count();
    } catch (const std::exception&) {
      counted.reset();
    }
    onMainThread([this, alive, counted] {
      if (!*alive || !counted) return;
      counts_ = counted;
      emit changed();
    });
  });
}

void HomeModel::copy(const QString& row) {
  if (sources_.copy) sources_.copy(row);
  copied_ = row;
  copiedTimer_.start();
  emit changed();
}

}  // namespace lumenvale
