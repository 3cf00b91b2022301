// The fonts and icons the app ships with, as Qt resources: registerFonts()
// makes the sans (Outfit, every weight) and the serif (Instrument Serif
// Italic) available by family name; IconProvider draws an icon by its name
// in the screens ("home", "gear", "alert", ...) in the colour asked for, as
// `image://icon/<name>/<rrggbb or aarrggbb>`. Main thread for the fonts;
// the provider may run on Qt's image threads.
#pragma once

#include <QColor>
#include <QImage>
#include <QQuickImageProvider>
#include <QString>
#include <optional>

namespace lumenvale {

inline constexpr const char* kSansFamily = "Outfit";
inline constexpr const char* kSerifFamily = "Instrument Serif";

// registerFonts loads the shipped fonts once; false when one would not load.
bool registerFonts();

// iconFile is the shipped drawing for an icon name, or nothing.
std::optional<QString> iconFile(const QString& name);

// drawIcon renders an icon in `colour` at `size` pixels square; a null
// image for a name that has no drawing.
QImage drawIcon(const QString& name, const QColor& colour, int size);

class IconProvider : public QQuickImageProvider {
 public:
  IconProvider();
  QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

}  // namespace lumenvale
