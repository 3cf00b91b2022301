// The delete sheet's view state for QML, for the delete that waits for the
// owner: how many assets, the first 12 to show, the title and the button
// that name them (photos, videos, or photos and videos), and the line that
// says when they were taken. What the assets are and when they were taken
// is read off the main thread once per question: until then the texts say
// "photos and videos" and the line is empty. Main thread.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "library/asset.h"
#include "library/photo_library.h"
#include "screens/hub_bridge.h"

namespace lumenvale {

class DeleteSheetModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool asking READ asking NOTIFY changed)
  Q_PROPERTY(int count READ count NOTIFY changed)
  Q_PROPERTY(QStringList thumbIds READ thumbIds NOTIFY changed)
  Q_PROPERTY(QString fromText READ fromText NOTIFY changed)
  Q_PROPERTY(QString dateLine READ dateLine NOTIFY changed)
  Q_PROPERTY(QString title READ title NOTIFY changed)
  Q_PROPERTY(QString confirm READ confirm NOTIFY changed)

 public:
  // The sheet shows this many pictures at most.
  static constexpr int kThumbs = 12;

  // What is read of the asked assets: their creation instants, oldest
  // first, and how many are videos (of those still there).
  struct Asked {
    std::vector<Instant> taken;
    std::int64_t photos = 0;
    std::int64_t videos = 0;
  };
  // `read` reads that; it may be slow, runs on a thread of its own that may
  // outlast the model, and must hold what it reads. The bridge must outlive
  // the model.
  using Read = std::function<Asked(const std::vector<std::string>& ids)>;
  DeleteSheetModel(HubBridge& hub, Read read, QObject* parent = nullptr);
  ~DeleteSheetModel() override;

  bool asking() const { return !askId_.isEmpty(); }
  int count() const { return static_cast<int>(ids_.size()); }
  QStringList thumbIds() const;
  // fromText: "From Maya's MacBook", or "From a laptop" without a name.
  QString fromText() const;
  // dateLine: "Taken May 1, 2024 – May 3, 2024", or one day when the first
  // and the last fall on the same one; "" until the dates are read.
  QString dateLine() const { return dateLine_; }
  // title: "Delete 40 photos from this device?" ("videos", "photos and
  // videos" as they are); confirm: "Move 40 photos to the Trash".
  QString title() const;
  QString confirm() const;

 signals:
  void changed();

 private:
  void follow();

  HubBridge& hub_;
  Read read_;
  QString askId_;
  QStringList ids_;
  QString laptop_;
  QString dateLine_;
  std::optional<Asked> asked_;  // once read
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// readAsked reads the sheet's facts of `ids` from the library (slow: off
// the main thread).
DeleteSheetModel::Asked readAsked(const PhotoLibrary& library, const std::vector<std::string>& ids);

// dateLine is the sheet's line for the instants of the asked assets,
// oldest first: empty for none.
QString dateLineFor(const std::vector<Instant>& taken);

}  // namespace lumenvale
