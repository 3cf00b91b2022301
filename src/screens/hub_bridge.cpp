#include "screens/hub_bridge.h"

#include <QStringList>
#include <limits>

#include "screens/hero.h"
#include "screens/home_rules.h"
#include "screens/laptops_rules.h"
#include "util/format.h"

namespace lumenvale {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

QVariantMap heroMap(const Hero::Case& hero) {
  if (const auto* waiting = std::get_if<Hero::Waiting>(&hero)) {
    return {{"case", "waiting"},
            {"code", text(waiting->code)},
            {"secondsLeft", waiting->secondsLeft},
            {"fraction", waiting->fraction},
            {"countdown", text(Format::countdown(waiting->secondsLeft))}};
  }
  if (const auto* sending = std::get_if<Hero::Sending>(&hero)) {
    return {{"case", "sending"},
            {"laptop", text(sending->laptop)},
            {"files", QVariant::fromValue<qint64>(sending->files)},
            {"bytes", QVariant::fromValue<qint64>(sending->bytes)},
            {"bytesPerSecond", QVariant::fromValue<qint64>(sending->bytesPerSecond)}};
  }
  if (const auto* connected = std::get_if<Hero::Connected>(&hero)) {
    return {{"case", "connected"}, {"laptop", text(connected->laptop)}};
  }
  return {{"case", "noNetwork"}};
}

}  // namespace

HubBridge::HubBridge(std::shared_ptr<Hub> hub, Clock clock, QObject* parent)
    : QObject(parent), hub_(std::move(hub)), clock_(std::move(clock)) {
  state_ = hub_->state();
  hub_->observe([this](const HubState& state) { show(state); });
  decideHero();
  // The card moves with time alone (a countdown, a laptop that goes quiet).
  heroTimer_.setInterval(1000);
  connect(&heroTimer_, &QTimer::timeout, this, [this] { decideHero(); });
  heroTimer_.start();
}

void HubBridge::show(const HubState& state) {
  state_ = state;
  emit changed();
  decideHero();
}

void HubBridge::decideHero() {
  const TimePoint now = clock_();
  QVariantMap hero = heroMap(Hero::of(state_, now));
  QVariantMap pairing;
  if (state_.code) {
    const auto [first, second] = HomeRules::pairingCodeParts(state_.code->display());
    pairing = {{"code", text(state_.code->display())},
               {"first", text(first)},
               {"second", text(second.value_or(""))},
               {"left", text(Format::countdown(LaptopsRules::secondsLeft(state_.code->expiresAt, now)))}};
  }
  QVariantList rows;
  for (const Laptop& laptop : state_.laptops) {
    rows.append(QVariantMap{{"id", text(laptop.id)},
                            {"name", text(laptop.name)},
                            {"live", LaptopsRules::isLive(state_, laptop, now)},
                            {"day", text(Format::day(fromMillisSince1970(laptop.pairedAt)))}});
  }
  if (hero == hero_ && pairing == pairing_ && rows == laptopRows_) return;
  hero_ = std::move(hero);
  pairing_ = std::move(pairing);
  laptopRows_ = std::move(rows);
  emit heroChanged();
}

QString HubBridge::code() const { return state_.code ? text(state_.code->display()) : QString(); }

QVariantList HubBridge::addresses() const {
  QVariantList list;
  for (const Addresses::Address& address : state_.addresses) {
    list.append(QVariantMap{{"ip", text(address.ip)}, {"interface", text(address.interface)}});
  }
  return list;
}

QStringList HubBridge::fingerprint() const {
  QStringList groups;
  for (const std::string& group : LaptopsRules::fingerprintGroups(state_.fingerprint)) {
    groups.append(QString::fromStdString(group));
  }
  return groups;
}

QVariantList HubBridge::laptops() const {
  QVariantList list;
  for (const Laptop& laptop : state_.laptops) {
    list.append(QVariantMap{{"id", text(laptop.id)}, {"name", text(laptop.name)}, {"pairedAt", laptop.pairedAt}});
  }
  return list;
}

QVariantMap HubBridge::deleteAsk() const {
  if (!state_.deleteAsk) return {};
  QStringList ids;
  for (const std::string& id : state_.deleteAsk->ids) ids.append(text(id));
  return {{"id", text(state_.deleteAsk->id)}, {"ids", ids}, {"laptop", text(state_.deleteAsk->laptop.value_or(""))}};
}

QString HubBridge::formatCount(qint64 count) const { return text(Format::count(count)); }
QString HubBridge::formatBytes(qint64 bytes) const { return text(Format::bytes(bytes)); }

AssetLine describeAsset(const PhotoLibrary& library, const QString& id) {
  if (id.isEmpty()) return {};
  const std::optional<Asset> asset = library.asset(id.toStdString());
  if (!asset || asset->resources.empty()) return {};
  AssetLine line;
  line.name = text(asset->resources.front().name);
  std::int64_t size = 0;
  try {
    // Reading from past the end gives the size and no byte.
    const std::unique_ptr<Opened> opened = library.open(asset->id, asset->resources.front().rid);
    if (!opened) return line;
    size = opened->read([](std::string_view) {}, std::numeric_limits<std::int64_t>::max());
  } catch (const std::exception&) {
    return line;
  }
  const std::optional<TimePoint> created = Format::parseIso8601(asset->created);
  const QString day = created ? text(Format::day(*created)) : QString();
  line.detail = qtTrId("hero.file.detail").arg(text(Format::bytes(size)), day);
  return line;
}

void HubBridge::start(const QString& name) { hub_->start(name.toStdString()); }
void HubBridge::setTheme(const QString& theme) { hub_->setTheme(theme.toStdString()); }
void HubBridge::setAllowDelete(bool allow) { hub_->setAllowDelete(allow); }
void HubBridge::welcome() { hub_->setWelcomed(); }
void HubBridge::answerDelete(bool yes) { hub_->answerDelete(yes); }
bool HubBridge::forget(const QString& laptopId) { return hub_->forget(laptopId.toStdString()); }
void HubBridge::dismissLateDeleted() { hub_->dismissLateDeleted(); }

}  // namespace lumenvale
