#include "screens/brand_assets.h"

#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QSvgRenderer>
#include <map>

// The resources live in a static library, whose registration the linker
// would drop unless asked for by name.
static void initialiseAssets() {
  static const bool done = [] {
    Q_INIT_RESOURCE(assets);
    Q_INIT_RESOURCE(qml);
    return true;
  }();
  (void)done;
}

namespace lumenvale {

bool registerFonts() {
  initialiseAssets();
  static const bool loaded = [] {
    bool all = true;
    for (const char* file : {"Outfit_100Thin", "Outfit_200ExtraLight", "Outfit_300Light", "Outfit_400Regular",
                             "Outfit_500Medium", "Outfit_600SemiBold", "Outfit_700Bold", "Outfit_800ExtraBold",
                             "Outfit_900Black", "InstrumentSerif_400Regular_Italic"}) {
      all = QFontDatabase::addApplicationFont(QStringLiteral(":/lumenvale/fonts/%1.ttf").arg(QLatin1String(file))) >= 0 && all;
    }
    return all;
  }();
  return loaded;
}

std::optional<QString> iconFile(const QString& name) {
  initialiseAssets();
  // The screens name icons by what they mean; the drawings by what they show.
  static const std::map<QString, QString> files = {
      {"home", "house"},   {"image", "image"}, {"laptop", "laptop"},  {"gear", "settings"},
      {"lock", "lock"},    {"check", "check"}, {"wifi", "wifi"},      {"info", "info"},
      {"alert", "triangle-alert"}, {"shield", "shield-check"}, {"copy", "copy"}, {"arrow", "arrow-right"},
      {"close", "x"},      {"back", "arrow-left"}, {"play", "play"}, {"safe", "circle-check"},
      {"notSafe", "circle"},
  };
  const auto found = files.find(name);
  if (found == files.end()) return std::nullopt;
  return QStringLiteral(":/lumenvale/icons/%1.svg").arg(found->second);
}

QImage drawIcon(const QString& name, const QColor& colour, int size) {
  const std::optional<QString> path = iconFile(name);
  if (!path || size <= 0 || !colour.isValid()) return {};
  QFile file(*path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray drawing = file.readAll();
  // The drawings stroke in currentColor, which Qt's SVG renderer does not
  // know; the colour is written in instead, with its opacity.
  drawing.replace("stroke=\"currentColor\"",
                  QStringLiteral("stroke=\"%1\" stroke-opacity=\"%2\"")
                      .arg(colour.name(QColor::HexRgb))
                      .arg(colour.alphaF())
                      .toUtf8());
  QSvgRenderer renderer(drawing);
  if (!renderer.isValid()) return {};
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  return image;
}

IconProvider::IconProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage IconProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
  const qsizetype slash = id.indexOf('/');
  const QString name = slash < 0 ? id : id.left(slash);
  // The colour comes as hex without its "#", which would end a URL's path.
  const QColor colour(slash < 0 ? QStringLiteral("#000000") : QStringLiteral("#") + id.mid(slash + 1));
  const int side = requestedSize.isValid() ? std::max(requestedSize.width(), requestedSize.height()) : 24;
  QImage image = drawIcon(name, colour, side);
  if (size != nullptr) *size = image.size();
  return image;
}

}  // namespace lumenvale
