#include "screens/delete_sheet_model.h"

#include <thread>

#include "screens/qt_main_queue.h"

namespace lumenvale {

QString dateLineFor(const std::vector<Instant>& taken) {
  if (taken.empty()) return {};
  // Instants count from 2001; the day is written from 1970.
  const QString first = dayText(taken.front() - kUnixEpoch);
  const QString last = dayText(taken.back() - kUnixEpoch);
  if (first == last) return qtTrId("delete.ask.day").arg(first);
  return qtTrId("delete.ask.range").arg(first, last);
}

DeleteSheetModel::DeleteSheetModel(HubBridge& hub, Taken taken, QObject* parent)
    : QObject(parent), hub_(hub), taken_(std::move(taken)) {
  connect(&hub_, &HubBridge::changed, this, &DeleteSheetModel::follow);
  follow();
}

DeleteSheetModel::~DeleteSheetModel() { *alive_ = false; }

QStringList DeleteSheetModel::thumbIds() const { return ids_.mid(0, kThumbs); }

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
  emit changed();
  if (id.isEmpty() || !taken_) return;
  std::vector<std::string> ids;
  for (const QString& asked : ids_) ids.push_back(asked.toStdString());
  std::thread([taken = taken_, ids = std::move(ids), id, alive = alive_, this] {
    std::vector<Instant> instants;
    try {
      instants = taken(ids);
    } catch (...) {
      instants.clear();  // no date line, the question stands
    }
    onMainThread([alive, this, id, instants = std::move(instants)] {
      if (!*alive || id != askId_) return;
      dateLine_ = dateLineFor(instants);
      emit changed();
    });
  }).detach();
}

}  // namespace lumenvale
