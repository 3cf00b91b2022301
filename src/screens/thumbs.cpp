#include "screens/thumbs.h"

#include <QStringList>

#include "screens/rounded_picture.h"

namespace lumenvale {

namespace {

class ThumbResponse : public QQuickImageResponse {
 public:
  // deliver keeps the picture and tells it from the response's own thread,
  // later: a cached picture comes before anyone listens.
  void deliver(QImage image) {
    {
      MutexLock hold(mutex_);
      image_ = std::move(image);
    }
    QMetaObject::invokeMethod(this, &QQuickImageResponse::finished, Qt::QueuedConnection);
  }
  QQuickTextureFactory* textureFactory() const override {
    MutexLock hold(mutex_);
    return QQuickTextureFactory::textureFactoryForImage(image_);
  }

 private:
  mutable Mutex mutex_;
  QImage image_;
};

}  // namespace

Thumbs::Thumbs(const PhotoLibrary& library, PhotoStore& store) : library_(library), store_(store) {
  cache_.setMaxCost(kCostLimit);
}

QString Thumbs::key(const QString& id, int px, bool fill) {
  return id + QLatin1Char('@') + QString::number(px) + (fill ? QStringLiteral("f") : QString());
}

std::optional<QImage> Thumbs::cached(const QString& key) {
  MutexLock hold(mutex_);
  if (const QImage* image = cache_.object(key)) return *image;
  return std::nullopt;
}

int Thumbs::asks() const {
  MutexLock hold(mutex_);
  return asks_;
}

void Thumbs::load(const QString& id, int px, bool fill, std::function<void(QImage)> done) {
  const QString name = key(id, px, fill);
  if (std::optional<QImage> image = cached(name)) {
    done(*image);
    return;
  }
  {
    MutexLock hold(mutex_);
    ++asks_;
  }
  // The library may deliver more than once (a quick picture, then a
  // better one); the first one answers.
  auto answered = std::make_shared<std::once_flag>();
  library_.preview(id.toStdString(), px, fill, [this, name, done, answered](PhotoStore::ImagePtr picture) {
    std::call_once(*answered, [&] {
      QImage image;
      if (picture) {
        if (const std::optional<std::string> jpeg = store_.jpeg(*picture, 0.92)) {
          image.loadFromData(reinterpret_cast<const uchar*>(jpeg->data()), static_cast<int>(jpeg->size()), "JPEG");
        }
      }
      if (!image.isNull()) {
        MutexLock hold(mutex_);
        // A picture too large for the whole cache is still shown, not kept.
        cache_.insert(name, new QImage(image), image.sizeInBytes());
      }
      done(image);
    });
  });
}

QQuickImageResponse* ThumbProvider::requestImageResponse(const QString& id, const QSize& requestedSize) {
  auto* response = new ThumbResponse;
  const QStringList parts = id.split(QLatin1Char('/'));
  bool ok = false;
  const int px = parts.size() >= 2 ? parts[1].toInt(&ok) : 0;
  if (!ok || px <= 0 || px > 4096) {
    response->deliver({});
    return response;
  }
  (void)requestedSize;  // the size is in the id: the screens ask for what they draw
  // The cut is made on each answer; the cache keeps the picture as the
  // library gave it.
  const std::optional<RoundedPicture::Cut> cut = parts.size() >= 4 ? RoundedPicture::cutOf(parts[3]) : std::nullopt;
  thumbs_.load(parts[0], px, parts.size() >= 3 && parts[2] == QLatin1String("fill"), [response, cut](QImage image) {
    response->deliver(cut ? RoundedPicture::cut(image, *cut) : std::move(image));
  });
  return response;
}

}  // namespace lumenvale
