// Pictures of assets for the screens, `image://thumb/<asset id>/<px>[/fill]`
// (and a rounded cut after it, see rounded_picture.h):
// asked of the photo library at the size they are drawn at, never over the
// network, and kept in a cache bounded by bitmap bytes (24 MiB) so that
// scrolling back does not ask again. A picture that does not come is not
// cached. Any thread: the cache has its own mutex.
#pragma once

#include <QCache>
#include <QImage>
#include <QQuickAsyncImageProvider>
#include <optional>

#include "library/photo_library.h"
#include "library/photo_store.h"
#include "util/mutex.h"

namespace lumenvale {

class Thumbs {
 public:
  static constexpr qsizetype kCostLimit = 25165824;  // bytes of bitmap

  // The library and the store must outlive the cache.
  Thumbs(const PhotoLibrary& library, PhotoStore& store);

  // key is "<id>@<px>", with "f" at the end when the picture fills its square.
  static QString key(const QString& id, int px, bool fill);

  // cached returns the picture under `key`, if held.
  std::optional<QImage> cached(const QString& key);

  // load asks the library and calls `done` once, on a thread of the
  // store's choosing, with the picture or a null image; a picture is kept
  // first. A cached one is given at once, on the caller's thread.
  void load(const QString& id, int px, bool fill, std::function<void(QImage)> done);

  // asks counts the pictures asked of the library (for tests).
  int asks() const;

 private:
  const PhotoLibrary& library_;
  PhotoStore& store_;
  mutable Mutex mutex_;
  QCache<QString, QImage> cache_ GUARDED_BY(mutex_);
  int asks_ GUARDED_BY(mutex_) = 0;
};

class ThumbProvider : public QQuickAsyncImageProvider {
 public:
  explicit ThumbProvider(Thumbs& thumbs) : thumbs_(thumbs) {}
  QQuickImageResponse* requestImageResponse(const QString& id, const QSize& requestedSize) override;

 private:
  Thumbs& thumbs_;
};

}  // namespace lumenvale
