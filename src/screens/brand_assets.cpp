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
      {"notSafe", "circle"}, {"star", "star"}, {"transfer", "arrow-left-right"},
  };
  // The brand's own drawings: "brand-mark", "brand-wordmark".
  if (name == QLatin1String("brand-mark") || name == QLatin1String("brand-wordmark")) {
    return QStringLiteral(":/lumenvale/brand/%1.svg").arg(name.mid(6));
  }
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
  for (const char* paint : {"stroke", "fill"}) {
    drawing.replace(QStringLiteral("%1=\"currentColor\"").arg(QLatin1String(paint)).toUtf8(),
                    QStringLiteral("%1=\"%2\" %1-opacity=\"%3\"")
                        .arg(QLatin1String(paint), colour.name(QColor::HexRgb))
                        .arg(colour.alphaF())
                        .toUtf8());
  }
  QSvgRenderer renderer(drawing);
  if (!renderer.isValid()) return {};
  // `size` is the height; a drawing wider than tall keeps its shape.
  const QSize natural = renderer.defaultSize();
  const int width = natural.height() > 0 ? std::max(size, size * natural.width() / natural.height()) : size;
  QImage image(width, size, QImage::Format_ARGB32_Premultiplied);
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
  // The height asked for; a wordmark is as wide as its shape makes it.
  const int side = requestedSize.height() > 0 ? requestedSize.height()
                   : requestedSize.width() > 0 ? requestedSize.width()
                                               : 24;
  QImage image = drawIcon(name, colour, side);
  if (size != nullptr) *size = image.size();
  return image;
}

}  // namespace lumenvale
