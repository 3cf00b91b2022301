// Tests of the screens' picture cache over a real folder library: a second
// load is served from the cache, sizes and fill are separate entries, a
// missing asset gives nothing and is not kept, and QML's provider answers.
#include "screens/thumbs.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QQuickImageResponse>
#include <QQuickTextureFactory>
#include <future>

#include "platform/folder/catalog.h"
#include "screens/rounded_picture.h"
#include "platform/folder/folder_photo_store.h"
#include "support/command.h"
#include "support/program.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

QImage loaded(Thumbs& thumbs, const QString& id, int px, bool fill) {
  std::promise<QImage> answer;
  std::future<QImage> image = answer.get_future();
  thumbs.load(id, px, fill, [&answer](QImage picture) { answer.set_value(std::move(picture)); });
  if (image.wait_for(20s) != std::future_status::ready) return {};
  return image.get();
}

TEST(Thumbs, LoadsOnceAndKeepsPicturesBySizeAndFill) {
  testing::TemporaryFolder photos("thumbs-photos");
  testing::TemporaryFolder data("thumbs-data");
  ASSERT_EQ(testing::runCommand({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=640x480",
                                 "-frames:v", "1", photos.path() + "/IMG_0001.JPG"},
                                60s)
                .status,
            0);
  Catalog catalog(data.path());
  catalog.index({photos.path()});
  FolderPhotoStore store(catalog);
  PhotoLibrary library(store, nullptr);
  Thumbs thumbs(library, store);
  const QString id = QString::fromStdString(PhotoLibrary::wireId(catalog.at(0)->localIdentifier));

  const QImage filled = loaded(thumbs, id, 120, true);
  ASSERT_FALSE(filled.isNull());
  EXPECT_EQ(std::max(filled.width(), filled.height()), 160);  // fills 120 x 120: the short side is 120
  EXPECT_EQ(std::min(filled.width(), filled.height()), 120);
  EXPECT_EQ(thumbs.asks(), 1);
  EXPECT_EQ(loaded(thumbs, id, 120, true), filled);
  EXPECT_EQ(thumbs.asks(), 1);  // from the cache

  const QImage fitted = loaded(thumbs, id, 120, false);
  EXPECT_EQ(std::max(fitted.width(), fitted.height()), 120);
  loaded(thumbs, id, 64, true);
  EXPECT_EQ(thumbs.asks(), 3);
  EXPECT_TRUE(thumbs.cached(Thumbs::key(id, 120, false)));
  EXPECT_EQ(Thumbs::key("abc", 300, true), "abc@300f");
  EXPECT_EQ(Thumbs::key("abc", 300, false), "abc@300");

  const QString gone = QString::fromStdString(PhotoLibrary::wireId("0000/L0/001"));
  EXPECT_TRUE(loaded(thumbs, gone, 120, true).isNull());
  EXPECT_FALSE(thumbs.cached(Thumbs::key(gone, 120, true)));
  EXPECT_TRUE(loaded(thumbs, gone, 120, true).isNull());
  EXPECT_EQ(thumbs.asks(), 5);  // asked again: nothing was kept

  // Through QML's provider, as `image://thumb/<id>/120/fill`.
  static int argc = 1;
  static char name[] = "thumbs_test";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  ThumbProvider provider(thumbs);
  std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(id + "/120/fill", QSize()));
  bool finished = false;
  QObject::connect(response.get(), &QQuickImageResponse::finished, [&] { finished = true; });
  for (int i = 0; i < 200 && !finished; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_TRUE(finished);
  std::unique_ptr<QQuickTextureFactory> texture(response->textureFactory());
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->textureSize(), filled.size());
  // With a cut: the box's size, whatever the picture's shape.
  std::unique_ptr<QQuickImageResponse> cut(provider.requestImageResponse(id + "/120/fill/90x40r8", QSize()));
  finished = false;
  QObject::connect(cut.get(), &QQuickImageResponse::finished, [&] { finished = true; });
  for (int i = 0; i < 200 && !finished; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_TRUE(finished);
  std::unique_ptr<QQuickTextureFactory> cutTexture(cut->textureFactory());
  EXPECT_EQ(cutTexture->textureSize(), QSize(90, 40));
  std::unique_ptr<QQuickImageResponse> bad(provider.requestImageResponse(id + "/huge", QSize()));
  finished = false;
  QObject::connect(bad.get(), &QQuickImageResponse::finished, [&] { finished = true; });
  for (int i = 0; i < 50 && !finished; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(finished);
}

// Pictures cut for round corners: the box's size, crop to fill from the
// middle, transparent beyond the radius and whole inside it.
TEST(RoundedPicture, CutsToTheBoxWithRoundCorners) {
  using RoundedPicture::Cut;
  EXPECT_EQ(RoundedPicture::cutOf("80x40r8"), (Cut{QSize(80, 40), 8}));
  EXPECT_EQ(RoundedPicture::cutOf("80x40r20"), (Cut{QSize(80, 40), 20}));
  for (const char* bad : {"", "80x40", "80x40r21", "0x40r0", "5000x40r0", "-8x40r2", "80x40r8x", "axbrc", "80X40R8"}) {
    EXPECT_EQ(RoundedPicture::cutOf(bad), std::nullopt) << bad;
  }

  // A wide picture: left third red, middle green, right third blue.
  QImage wide(300, 100, QImage::Format_RGB32);
  for (int x = 0; x < 300; ++x) {
    const QRgb colour = x < 100 ? qRgb(255, 0, 0) : x < 200 ? qRgb(0, 255, 0) : qRgb(0, 0, 255);
    for (int y = 0; y < 100; ++y) wide.setPixel(x, y, colour);
  }
  const QImage square = RoundedPicture::cut(wide, Cut{QSize(50, 50), 10});
  ASSERT_EQ(square.size(), QSize(50, 50));
  EXPECT_EQ(qAlpha(square.pixel(0, 0)), 0);  // a corner, past the radius
  EXPECT_EQ(qAlpha(square.pixel(49, 49)), 0);
  EXPECT_EQ(square.pixel(25, 25), qRgb(0, 255, 0));  // the middle of the picture
  EXPECT_EQ(square.pixel(25, 0), qRgb(0, 255, 0));   // an edge between corners is whole
  EXPECT_EQ(square.pixel(0, 25), qRgb(0, 255, 0));
  EXPECT_TRUE(RoundedPicture::cut(QImage(), Cut{QSize(50, 50), 10}).isNull());
}

}  // namespace
}  // namespace lumenvale
