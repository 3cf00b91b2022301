// Sample photos for the screenshots and the screens' tests: a library of
// made-up assets, newest first, and pictures drawn for them (soft colour
// fields, different for each id). Nothing here touches real files.
#pragma once

#include <QQuickImageProvider>
#include <vector>

#include "library/asset.h"
#include "screens/photos_model.h"

namespace lumenvale::Samples {

// assets makes `count` assets from June 28, 2024 backwards, 13 a day; every
// seventh is a video of 75.4 seconds, the first one has no known size.
std::vector<Asset> assets(int count);

// photos serves `assets` page by page; the positions for which `safe`
// holds are held by two laptops. Pages after `failAfter` pages fail (never
// when negative).
PhotosModel::Sources photos(std::vector<Asset> assets, std::function<bool(std::size_t)> safe, int failAfter = -1);

// Pictures at image://<name>/<id>/<px>[/fill], drawn synchronously.
class Pictures : public QQuickImageProvider {
 public:
  Pictures();
  QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

}  // namespace lumenvale::Samples
