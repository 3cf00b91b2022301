// The Photos tab's view state for QML: the assets loaded so far (pages of
// 300, read off the main thread, one at a time, until the filter shows 120
// or the listing ends), their safe flags, the counts, the filter, and the
// month grid as rows: a month's title or a row of its tiles. The decisions
// are PhotosRules's; this keeps them current. Main thread.
#pragma once

#include <QAbstractListModel>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

#include "library/library.h"
#include "screens/photos_rules.h"

namespace lumenvale {

class PhotosModel : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(QString filter READ filter WRITE setFilter NOTIFY changed)
  Q_PROPERTY(int columns READ columns WRITE setColumns NOTIFY changed)
  // The tab's width: the column count follows it (columnsFor).
  Q_PROPERTY(qreal tabWidth READ tabWidth WRITE setTabWidth NOTIFY changed)
  Q_PROPERTY(bool done READ done NOTIFY changed)
  Q_PROPERTY(bool loading READ loading NOTIFY changed)
  Q_PROPERTY(int loaded READ loaded NOTIFY changed)
  Q_PROPERTY(int shownCount READ shownCount NOTIFY changed)
  Q_PROPERTY(bool counted READ counted NOTIFY changed)
  Q_PROPERTY(qint64 safeCount READ safeCount NOTIFY changed)
  Q_PROPERTY(qint64 allCount READ allCount NOTIFY changed)
  Q_PROPERTY(int percent READ percent NOTIFY changed)
  Q_PROPERTY(QString emptyKey READ emptyKey NOTIFY changed)

 public:
  enum Role { KindRole = Qt::UserRole + 1, TitleRole, TilesRole, LastRole };

  // `page` and `count` may be slow and run on threads of their own, which
  // may outlast the model: they must hold what they read. `safeOn` names
  // the laptops that hold an asset safely; it runs on the main thread.
  struct Sources {
    std::function<std::optional<Page>(std::optional<std::string> after, std::int64_t limit)> page;
    std::function<std::pair<std::int64_t, std::int64_t>()> count;
    std::function<std::vector<std::string>(const Asset&)> safeOn;
  };
  explicit PhotosModel(Sources sources, QObject* parent = nullptr);
  ~PhotosModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  QString filter() const;
  void setFilter(const QString& filter);
  int columns() const { return static_cast<int>(columns_); }
  void setColumns(int columns);
  qreal tabWidth() const { return tabWidth_; }
  void setTabWidth(qreal width);
  bool done() const { return done_; }
  bool loading() const { return loading_; }
  int loaded() const { return static_cast<int>(assets_.size()); }
  int shownCount() const { return static_cast<int>(shown_.size()); }
  bool counted() const { return counts_.has_value(); }
  qint64 safeCount() const;
  qint64 allCount() const;
  int percent() const;
  // emptyKey: the text shown instead of the grid, or "" while there is a
  // grid or more to load.
  QString emptyKey() const;

  // appeared: the tab came on screen, made anew; the listing starts again
  // from its first page and the counts are made.
  Q_INVOKABLE void appeared();
  // more loads the next page, unless the listing is done or a load runs.
  Q_INVOKABLE void more();
  // asset describes the asset at a position for the viewer: {id, date,
  // width, height, safeOn}, or an empty map for a position not loaded.
  Q_INVOKABLE QVariantMap asset(int position) const;
  // marksChanged: the safe marks changed; the flags and counts are made again.
  Q_INVOKABLE void marksChanged();
  // foldersChanged: the owner changed the library's folders. The tab lives
  // on between visits, so its listing starts again here; before the tab
  // first appeared nothing loads.
  void foldersChanged();

 signals:
  void changed();

 private:
  void received(std::uint64_t generation, std::optional<Page> page);
  void recount();
  // relayout works out the shown positions and the rows again and tells the
  // views only what changed; then loads more when the screen is not full.
  void relayout(bool everyRow = false);
  QVariantMap tile(std::size_t position) const;

  Sources sources_;
  std::vector<Asset> assets_;
  std::vector<bool> safe_;
  std::optional<std::string> next_;
  bool started_ = false;  // nothing loads before the tab first appears
  bool done_ = false;
  bool loading_ = false;
  std::optional<std::pair<std::int64_t, std::int64_t>> counts_;
  SafeFilter filter_ = SafeFilter::all;
  qreal tabWidth_ = 0;
  std::size_t columns_ = 3;
  std::vector<std::size_t> shown_;
  std::vector<GridRow> rows_;
  std::uint64_t generation_ = 0;  // answers for an earlier listing are dropped
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lumenvale
