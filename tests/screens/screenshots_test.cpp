// `lumenvale --screenshots DIR` draws every screen built so far, light and
// dark: each picture is there, at the phone's size where it is a whole
// screen, and shows something (not one flat colour).
#include <gtest/gtest.h>

#include <QImage>
#include <set>

#include "support/command.h"
#include "support/program.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

TEST(Screenshots, EveryScreenInLightAndDark) {
  testing::TemporaryFolder out("screenshots");
  const testing::CommandResult drawn = testing::runCommand({LUMENVALE_BINARY, "--screenshots", out.path()}, 120s);
  ASSERT_EQ(drawn.status, 0) << drawn.output;
  for (const char* scene : {"welcome", "home", "home-connected", "permissions-not-asked", "permissions-limited", "permissions-denied",
                            "permissions-full", "hero-waiting", "hero-sending", "hero-connected", "hero-no-network",
                            "photos", "photos-safe-filter", "viewer-safe", "viewer-not-safe", "laptops", "laptops-forget",
                            "settings", "delete-sheet", "delete-sheet-one"}) {
    for (const char* appearance : {"light", "dark"}) {
      const std::string file = out.path() + "/" + scene + "-" + appearance + ".png";
      SCOPED_TRACE(file);
      const QImage image(QString::fromStdString(file));
      ASSERT_FALSE(image.isNull());
      if (std::string(scene).starts_with("hero")) {
        EXPECT_EQ(image.width(), 358);
        EXPECT_GT(image.height(), 150);
      } else {
        EXPECT_EQ(image.size(), QSize(390, 844));
      }
      std::set<QRgb> colours;
      for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) colours.insert(image.pixel(x, y));
      }
      EXPECT_GT(colours.size(), 20u);  // text and shapes, not a blank page
      // Light pictures are light at the top corner, dark ones dark; the
      // viewer shows a photo on black in both.
      const QRgb corner = image.pixel(3, 3);
      if (!std::string(scene).starts_with("viewer")) {
        EXPECT_EQ(qGray(corner) > 128, std::string(appearance) == "light") << std::hex << corner;
      }
    }
  }
}

}  // namespace
}  // namespace lumenvale
