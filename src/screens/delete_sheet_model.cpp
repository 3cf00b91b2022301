#include "screens/delete_sheet_model.h"

#include "screens/background.h"
#include "screens/qt_main_queue.h"
#include "screens/texts.h"
#include "util/format.h"

namespace lumenvale {

QString dateLineFor(const std::vector<Instant>& taken) {
  if (taken.empty()) return {};
  const QString first = QString::fromStdString(Format::day(timeOf(taken.front())));
  const QString last = QString::fromStdString(Format::day(timeOf(taken.back())));
  if (first == last) return qtTrId("delete.ask.day").arg(first);
  return qtTrId("delete.ask.range").arg(first, last);
}

DeleteSheetModel::Asked readAsked(const PhotoLibrary& library, const std::vector<std::string>& ids) {
  DeleteSheetModel::Asked asked;
  asked.taken = library.taken(ids);
  for (const std::string& id : ids) {
    const std::optional<Asset> asset = library.asset(id);
    if (!asset) continue;
    (asset->kind == "video" ? asked.videos : asked.photos) += 1;
  }
  return asked;
}

DeleteSheetModel::DeleteSheetModel(HubBridge& hub, Read read, QObject* parent)
    : QObject(parent), hub_(hub), read_(std::move(read)) {
  connect(&hub_, &HubBridge::changed, this, &DeleteSheetModel::follow);
  follow();
}

DeleteSheetModel::~DeleteSheetModel() { *alive_ = false; }

QStringList DeleteSheetModel::thumbIds() const { return ids_.mid(0, kThumbs); }

namespace {

// The key family that names the asked assets: photos only (the keys of
// old, one and other), videos only, or both (and while unread).
QString named(const char* family, std::int64_t count, const std::optional<DeleteSheetModel::Asked>& asked) {
  const QByteArray base = QByteArray("delete.ask.") + family;
  if (asked && asked->videos == 0 && asked->photos > 0) {
    return qtTrId((base + (count == 1 ? ".one" : ".other")).constData())
        .arg(QString::fromStdString(Format::count(count)));
  }
  if (asked && asked->photos == 0 && asked->videos > 0) return counted((base + ".videos").constData(), count);
  return counted((base + ".mixed").constData(), count);
}

}  // namespace

QString DeleteSheetModel::title() const { return named("title", count(), asked_); }
QString DeleteSheetModel::confirm() const { return named("confirm", count(), asked_); }

QString DeleteSheetModel::fromText() const {
  return laptop_.isEmpty() ? qtTrId("delete.fromLaptop") : qtTrId("delete.from").arg(laptop_);
}

void DeleteSheetModel::follow() {
  const QVariantMap ask = hub_.deleteAsk();
  const QString id = ask.value("id").toString();
  if (id == askId_) return;
  askId_ = id;
  ids_ = ask.value("ids").toStringList();
  laptop_ = ask.value("laptop").toString();
  dateLine_.clear();
  asked_.reset();
  emit changed();
  if (id.isEmpty() || !read_) return;
  std::vector<std::string> ids;
  for (const QString& asked : ids_) ids.push_back(asked.toStdString());
  Background::run([read = read_, ids = std::move(ids), id, alive = alive_, this] {
    std::optional<Asked> asked;
    try {
      asked = read(ids);
    } catch (...) {
      asked.reset();  // no date line, the general wording: the question stands
    }
    onMainThread([alive, this, id, asked = std::move(asked)] {
      if (!*alive || id != askId_ || !asked) return;
      dateLine_ = dateLineFor(asked->taken);
      asked_ = asked;
      emit changed();
    });
  });
}

}  // namespace lumenvale
