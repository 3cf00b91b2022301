// The palette as QML reads it: `Theme.colours.<name>`, one value per
// palette colour, all changed at once when the appearance changes, so views
// recolour without being built again. Main thread only.
#pragma once

#include <QColor>
#include <QObject>
#include <QQmlPropertyMap>
#include <QString>

namespace lumenvale {

class Theme : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool dark READ dark NOTIFY appearanceChanged)
  Q_PROPERTY(QString choice READ choice WRITE setChoice NOTIFY appearanceChanged)
  Q_PROPERTY(bool systemDark READ systemDark WRITE setSystemDark NOTIFY appearanceChanged)
  Q_PROPERTY(QQmlPropertyMap* colours READ colours CONSTANT)
  Q_PROPERTY(QString sansFamily READ sansFamily CONSTANT)
  Q_PROPERTY(QString serifFamily READ serifFamily CONSTANT)

 public:
  explicit Theme(QObject* parent = nullptr);

  bool dark() const { return dark_; }
  QString choice() const { return choice_; }
  // setChoice takes the owner's theme: "dark" or "light", anything else
  // follows the system.
  void setChoice(const QString& choice);
  bool systemDark() const { return systemDark_; }
  void setSystemDark(bool dark);
  QQmlPropertyMap* colours() { return &colours_; }
  // The shipped sans; the shipped serif, or the system's font without it.
  QString sansFamily() const;
  QString serifFamily() const;

  // colour returns the named palette colour as it shows now; an unknown
  // name gives an invalid colour.
  Q_INVOKABLE QColor colour(const QString& name) const;

 signals:
  void appearanceChanged();

 private:
  void decide();

  QString choice_ = QStringLiteral("system");
  bool systemDark_ = false;
  bool dark_ = false;
  QQmlPropertyMap colours_;
};

}  // namespace lumenvale
