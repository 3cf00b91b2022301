#include "screens/samples.h"

#include <QLinearGradient>
#include <QPainter>
#include <atomic>
#include <memory>

#include "screens/rounded_picture.h"

namespace lumenvale::Samples {

std::vector<Asset> assets(int count) {
  std::vector<Asset> made;
  made.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    Asset asset;
    asset.id = "sample" + std::to_string(i);
    asset.kind = i % 7 == 3 ? "video" : "photo";
    if (asset.kind == "video") asset.duration = 75.4;
    // 13 a day, counting back from June 28, 2024, 28 days a month.
    const int daysBack = i / 13;
    const int month = 6 - daysBack / 28;
    const int day = 28 - daysBack % 28;
    const int year = 2024 + (month - 1 - 11) / 12;  // months below 1 go back a year
    const int shownMonth = ((month - 1) % 12 + 12) % 12 + 1;
    char created[40];
    std::snprintf(created, sizeof created, "%04d-%02d-%02dT%02d:%02d:00Z", year, shownMonth, day, 20 - i % 13,
                  7 * i % 60);
    asset.created = created;
    asset.modified = created;
    asset.width = i == 0 ? 0 : 4032;
    asset.height = i == 0 ? 0 : 3024;
    made.push_back(std::move(asset));
  }
  return made;
}

PhotosModel::Sources photos(std::vector<Asset> assets, std::function<bool(std::size_t)> safe, int failAfter) {
  auto shared = std::make_shared<const std::vector<Asset>>(std::move(assets));
  auto pages = std::make_shared<std::atomic<int>>(0);
  PhotosModel::Sources sources;
  sources.page = [shared, pages, failAfter](std::optional<std::string> after,
                                            std::int64_t limit) -> std::optional<Page> {
    if (failAfter >= 0 && pages->fetch_add(1) >= failAfter) return std::nullopt;
    std::size_t start = 0;
    if (after) start = static_cast<std::size_t>(std::stoull(*after));
    Page page;
    for (std::size_t i = start; i < shared->size() && page.assets.size() < static_cast<std::size_t>(limit); ++i) {
      page.assets.push_back((*shared)[i]);
    }
    const std::size_t end = start + page.assets.size();
    if (end < shared->size()) page.next = std::to_string(end);
    return page;
  };
  sources.count = [shared, safe] {
    std::int64_t held = 0;
    for (std::size_t i = 0; i < shared->size(); ++i) held += safe(i) ? 1 : 0;
    return std::pair<std::int64_t, std::int64_t>(held, static_cast<std::int64_t>(shared->size()));
  };
  sources.safeOn = [safe](const Asset& asset) {
    const std::size_t position = static_cast<std::size_t>(std::stoull(asset.id.substr(6)));
    return safe(position) ? std::vector<std::string>{"Maya's MacBook", "Studio iMac"} : std::vector<std::string>{};
  };
  return sources;
}

Pictures::Pictures() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage Pictures::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
  const QStringList parts = id.split(QLatin1Char('/'));
  const int px = parts.size() > 1 ? std::clamp(parts[1].toInt(), 16, 1600) : 256;
  const bool fill = parts.size() > 2 && parts[2] == QLatin1String("fill");
  const QSize drawn = requestedSize.isValid() ? requestedSize : fill ? QSize(px, px) : QSize(px, px * 3 / 4);
  QImage image(drawn, QImage::Format_RGB32);
  const auto seed = static_cast<uint>(qHash(parts.value(0)));
  const QColor top = QColor::fromHsv(static_cast<int>(seed % 360), 70 + static_cast<int>(seed % 60), 200);
  const QColor bottom = QColor::fromHsv(static_cast<int>((seed / 7 + 40) % 360), 120, 110);
  QPainter painter(&image);
  QLinearGradient gradient(0, 0, drawn.width() * 0.4, drawn.height());
  gradient.setColorAt(0, top);
  gradient.setColorAt(1, bottom);
  painter.fillRect(image.rect(), gradient);
  // A soft sun, so that no two pictures look quite alike.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 70));
  const int r = drawn.width() / 5;
  painter.drawEllipse(QPoint(static_cast<int>(seed % static_cast<uint>(drawn.width())), drawn.height() / 3), r, r);
  painter.end();
  if (const std::optional<RoundedPicture::Cut> cut = RoundedPicture::cutOf(parts.value(3))) {
    image = RoundedPicture::cut(image, *cut);
  }
  if (size) *size = image.size();
  return image;
}

}  // namespace lumenvale::Samples
