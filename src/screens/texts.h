// The app's texts, looked up by localisation key ("welcome.start") through
// qtTrId / qsTrId; English is the one catalogue so far. Main thread, once.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace lumenvale {

// installTexts loads the catalogue into the application; false when it is
// missing (keys would then show as themselves).
bool installTexts(QCoreApplication& application);

// counted looks up a key with plural forms for `count` and puts the count,
// as the owner reads it ("1,204"), in its %1: "1 file", "3 files".
QString counted(const char* key, qint64 count);

// The texts QML asks for that are decisions, not look-ups: the singleton
// `Words` of `Lumenvale.Core`.
class Words : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  // counted: as the function above, for a key that QML holds.
  Q_INVOKABLE QString counted(const QString& key, qint64 count) const;
  // hero: HomeRules::heroTexts as {eyebrow, icon, tone, state, live,
  // headline, accent}, every text looked up ("accent" empty when it is the
  // laptop's name). `safe` and `all` count only when `isCounted`.
  Q_INVOKABLE QVariantMap hero(const QString& heroCase, bool isCounted, qint64 safe, qint64 all) const;
};

}  // namespace lumenvale
