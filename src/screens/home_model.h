// The Home tab's view state for QML: the counters (counted off the main
// thread whenever the safe marks change), the notices, the cover picture,
// the address rows and which one was copied in the last 2 seconds. The
// decisions are HomeRules'; this keeps them current. Main thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <QVariantList>
#include <functional>
#include <optional>

#include "screens/app_root.h"
#include "screens/hub_bridge.h"

namespace lumenvale {

class HomeModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString onPhone READ onPhone NOTIFY changed)
  Q_PROPERTY(QString safe READ safe NOTIFY changed)
  Q_PROPERTY(QString notSafe READ notSafe NOTIFY changed)
  Q_PROPERTY(bool counted READ counted NOTIFY changed)
  Q_PROPERTY(qint64 safeCount READ safeCount NOTIFY changed)
  Q_PROPERTY(qint64 allCount READ allCount NOTIFY changed)
  Q_PROPERTY(QVariantList notices READ notices NOTIFY changed)
  Q_PROPERTY(QString cover READ cover NOTIFY changed)
  Q_PROPERTY(QVariantList addressRows READ addressRows NOTIFY changed)
  Q_PROPERTY(QString copied READ copied NOTIFY changed)
  Q_PROPERTY(QString codeFirst READ codeFirst NOTIFY changed)
  Q_PROPERTY(QString codeSecond READ codeSecond NOTIFY changed)
  Q_PROPERTY(QString currentName READ currentName NOTIFY changed)
  Q_PROPERTY(QString currentDetail READ currentDetail NOTIFY changed)

 public:
  // count gives (safe, all); `firstPage` the first 8 assets. Both may be
  // slow and run on a thread of their own, which may outlast the model: they
  // must hold what they read (a shared_ptr to the hub, not a reference).
  // `copy` puts a text on the clipboard. The bridge and the root must
  // outlive the model.
  struct Sources {
    std::function<std::pair<std::int64_t, std::int64_t>()> count;
    std::function<std::vector<Asset>()> firstPage;
    std::function<void(const QString&)> copy;
    // describe tells the name and detail of the file under way; it reads
    // the library and runs on a thread of its own, like `count`.
    std::function<AssetLine(const QString& id)> describe;
  };
  HomeModel(HubBridge& hub, AppRoot& root, Sources sources, QObject* parent = nullptr);
  ~HomeModel() override;

  QString onPhone() const;
  QString safe() const;
  QString notSafe() const;
  bool counted() const { return counts_.has_value(); }
  qint64 safeCount() const { return counts_ ? std::max<qint64>(0, std::min(counts_->first, counts_->second)) : 0; }
  qint64 allCount() const { return counts_ ? std::max<qint64>(0, counts_->second) : 0; }
  QVariantList notices() const;
  QString cover() const { return cover_; }
  QVariantList addressRows() const;
  QString copied() const { return copied_; }
  QString codeFirst() const;
  QString codeSecond() const;
  // The file under way (the hub's currentAsset), once looked up.
  QString currentName() const { return current_.name; }
  QString currentDetail() const { return current_.detail; }

  // shown: the tab came into view; the cover is picked and the counts made.
  Q_INVOKABLE void shown();
  // copy puts an address row's text on the clipboard and marks it copied.
  Q_INVOKABLE void copy(const QString& text);

 signals:
  void changed();

 private:
  void recount();
  void pickCover();
  void describeCurrent();

  HubBridge& hub_;
  AppRoot& root_;
  Sources sources_;
  std::optional<std::pair<std::int64_t, std::int64_t>> counts_;
  QString cover_;
  QString copied_;
  QTimer copiedTimer_;
  bool everShown_ = false;
  QString describedAsset_;  // the asset `current_` is about, or being looked up
  AssetLine current_;
  qint64 countedMarks_ = -1;
  qint64 countedLibrary_ = -1;
  // Work off the main thread answers only while this model lives.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lumenvale
