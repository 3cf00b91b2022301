#include "screens/theme.h"

#include <span>

#include <QFontDatabase>

#include "screens/app_flow.h"
#include "screens/brand_assets.h"
#include "screens/palette.h"

namespace lumenvale {

Theme::Theme(QObject* parent) : QObject(parent) { decide(); }

void Theme::setChoice(const QString& choice) {
  choice_ = choice;
  decide();
}

void Theme::setSystemDark(bool dark) {
  systemDark_ = dark;
  decide();
}

void Theme::decide() {
  dark_ = isDark(choice_.toStdString(), systemDark_);
  for (const auto& colours :
       {std::span<const PaletteColour>(kPalette), std::span<const PaletteColour>(kCoverPalette)}) {
    for (const PaletteColour& colour : colours) {
      colours_.insert(QString::fromLatin1(colour.name.data(), static_cast<qsizetype>(colour.name.size())),
                      QColor::fromRgba(dark_ ? colour.dark : colour.light));
    }
  }
  // Told even when only the choice changed, so that its readers update.
  emit appearanceChanged();
}

QString Theme::sansFamily() const { return QString::fromLatin1(kSansFamily); }

QString Theme::serifFamily() const {
  if (QFontDatabase::families().contains(QString::fromLatin1(kSerifFamily))) return QString::fromLatin1(kSerifFamily);
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QColor Theme::colour(const QString& name) const { return colours_.value(name).value<QColor>(); }

}  // namespace lumenvale
