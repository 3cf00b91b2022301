// The hub as QML sees it: the hub's State as NOTIFY properties (all told by
// one `changed` signal) and its actions as Q_INVOKABLEs. The Home card's
// case, the code's time left and who is here are worked out here, in C++,
// once a second and on every change.
// Made, used and destroyed on the main thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <memory>

#include "hub/hub.h"

namespace lumenvale {

// What the Home card says of the file under way: the name of an asset's
// first file, and that file's size with the day the asset was taken
// ("2.4 MB · May 1, 2024"); empty when the asset is gone, no detail when the
// file cannot be opened. It reads the library and opens the file: any
// thread but the main one (a stalled disk would freeze the screens).
struct AssetLine {
  QString name;
  QString detail;
};
AssetLine describeAsset(const PhotoLibrary& library, const QString& id);

class HubBridge : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool welcomed READ welcomed NOTIFY changed)
  Q_PROPERTY(QString theme READ theme NOTIFY changed)
  Q_PROPERTY(bool allowDelete READ allowDelete NOTIFY changed)
  Q_PROPERTY(bool running READ running NOTIFY changed)
  Q_PROPERTY(bool failed READ failed NOTIFY changed)
  Q_PROPERTY(int port READ port NOTIFY changed)
  Q_PROPERTY(QString deviceName READ deviceName NOTIFY changed)
  Q_PROPERTY(QString code READ code NOTIFY changed)
  Q_PROPERTY(QVariantList addresses READ addresses NOTIFY changed)
  Q_PROPERTY(QVariantList laptops READ laptops NOTIFY changed)
  Q_PROPERTY(QString lastLaptop READ lastLaptop NOTIFY changed)
  Q_PROPERTY(bool connected READ connected NOTIFY changed)
  Q_PROPERTY(bool fromCloud READ fromCloud NOTIFY changed)
  Q_PROPERTY(qint64 lateDeleted READ lateDeleted NOTIFY changed)
  Q_PROPERTY(qint64 sentFiles READ sentFiles NOTIFY changed)
  Q_PROPERTY(qint64 sentBytes READ sentBytes NOTIFY changed)
  Q_PROPERTY(qint64 bytesPerSecond READ bytesPerSecond NOTIFY changed)
  Q_PROPERTY(int inFlight READ inFlight NOTIFY changed)
  Q_PROPERTY(QString currentAsset READ currentAsset NOTIFY changed)
  Q_PROPERTY(QVariantMap deleteAsk READ deleteAsk NOTIFY changed)
  Q_PROPERTY(qint64 marks READ marks NOTIFY changed)
  Q_PROPERTY(qint64 library READ library NOTIFY changed)
  Q_PROPERTY(QVariantMap hero READ hero NOTIFY heroChanged)
  Q_PROPERTY(QVariantMap pairing READ pairing NOTIFY heroChanged)
  Q_PROPERTY(QVariantList laptopRows READ laptopRows NOTIFY heroChanged)
  Q_PROPERTY(QStringList fingerprint READ fingerprint NOTIFY changed)

 public:
  // `clock` decides the card's case; the hub must outlive the bridge.
  HubBridge(std::shared_ptr<Hub> hub, Clock clock = systemNow, QObject* parent = nullptr);

  bool welcomed() const { return state_.welcomed; }
  QString theme() const { return QString::fromStdString(state_.theme); }
  bool allowDelete() const { return state_.allowDelete; }
  bool running() const { return state_.running; }
  bool failed() const { return state_.failed; }
  int port() const { return state_.port; }
  QString deviceName() const { return QString::fromStdString(state_.deviceName); }
  QString code() const;
  QVariantList addresses() const;
  QVariantList laptops() const;
  QString lastLaptop() const { return QString::fromStdString(state_.lastLaptop.value_or("")); }
  bool connected() const { return state_.connected; }
  bool fromCloud() const { return state_.fromCloud; }
  qint64 lateDeleted() const { return state_.lateDeleted; }
  qint64 sentFiles() const { return state_.sentFiles; }
  qint64 sentBytes() const { return state_.sentBytes; }
  qint64 bytesPerSecond() const { return state_.bytesPerSecond; }
  int inFlight() const { return state_.inFlight; }
  QString currentAsset() const { return QString::fromStdString(state_.currentAsset.value_or("")); }
  // deleteAsk: {id, ids, laptop} while a delete waits for the owner, else empty.
  QVariantMap deleteAsk() const;
  qint64 marks() const { return state_.marks; }
  qint64 library() const { return state_.library; }
  // hero: {case: "waiting"|"sending"|"connected"|"noNetwork", and its figures}.
  QVariantMap hero() const { return hero_; }
  // pairing: {code, first, second, left} while there is a code
  // ("K7QM-4TXP", "K7QM", "4TXP", "4:14": the seconds rounded up), else empty.
  QVariantMap pairing() const { return pairing_; }
  // laptopRows: one {id, name, live, day} per paired laptop, newest first;
  // `day` is the pairing day ("May 1, 2024") and `live` whether it is here.
  QVariantList laptopRows() const { return laptopRows_; }
  // fingerprint: the device's certificate fingerprint in 16 groups of 4
  // hex digits, for the owner to compare with what a pairing laptop prints;
  // empty until the identity is loaded.
  QStringList fingerprint() const;

  // The owner's way of writing counts ("1,204") and sizes ("734 MB").
  Q_INVOKABLE QString formatCount(qint64 count) const;
  Q_INVOKABLE QString formatBytes(qint64 bytes) const;

  Q_INVOKABLE void start(const QString& name);
  Q_INVOKABLE void setTheme(const QString& theme);
  Q_INVOKABLE void setAllowDelete(bool allow);
  Q_INVOKABLE void welcome();
  Q_INVOKABLE void answerDelete(bool yes);
  // False when the laptop could not be forgotten on disk (see Hub::forget).
  Q_INVOKABLE bool forget(const QString& laptopId);
  Q_INVOKABLE void dismissLateDeleted();

 signals:
  void changed();
  void heroChanged();

 private:
  void show(const HubState& state);
  void decideHero();

  std::shared_ptr<Hub> hub_;
  Clock clock_;
  HubState state_;
  QVariantMap hero_;
  QVariantMap pairing_;
  QVariantList laptopRows_;
  QTimer heroTimer_;
};

}  // namespace lumenvale
