// The delete sheet's view state for QML, for the delete that waits for the
// owner: how many assets, the first 12 to show, and the line that says when
// they were taken (read off the main thread once per question; empty until
// then). Main thread.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

#include "library/asset.h"
#include "screens/hub_bridge.h"

namespace lumenvale {

class DeleteSheetModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool asking READ asking NOTIFY changed)
  Q_PROPERTY(int count READ count NOTIFY changed)
  Q_PROPERTY(QStringList thumbIds READ thumbIds NOTIFY changed)
  Q_PROPERTY(QString fromText READ fromText NOTIFY changed)
  Q_PROPERTY(QString dateLine READ dateLine NOTIFY changed)

 public:
  // The sheet shows this many pictures at most.
  static constexpr int kThumbs = 12;

  // `taken` gives the creation instants of assets, oldest first; it may be
  // slow, runs on a thread of its own that may outlast the model, and must
  // hold what it reads. The bridge must outlive the model.
  using Taken = std::function<std::vector<Instant>(const std::vector<std::string>& ids)>;
  DeleteSheetModel(HubBridge& hub, Taken taken, QObject* parent = nullptr);
  ~DeleteSheetModel() override;

  bool asking() const { return !askId_.isEmpty(); }
  int count() const { return static_cast<int>(ids_.size()); }
  QStringList thumbIds() const;
  // fromText: "From Maya's MacBook", or "From a laptop" without a name.
  QString fromText() const;
  // dateLine: "Taken May 1, 2024 – May 3, 2024", or one day when the first
  // and the last fall on the same one; "" until the dates are read.
  QString dateLine() const { return dateLine_; }

 signals:
  void changed();

 private:
  void follow();

  HubBridge& hub_;
  Taken taken_;
  QString askId_;
  QStringList ids_;
  QString laptop_;
  QString dateLine_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// dateLine is the sheet's line for the instants of the asked assets,
// oldest first: empty for none.
QString dateLineFor(const std::vector<Instant>& taken);

}  // namespace lumenvale
