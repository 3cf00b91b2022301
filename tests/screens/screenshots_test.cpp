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
  // Each scene with its size: a whole screen (a large phone, a small one,
  // one on its side), or the Home card alone at its width.
  const struct {
    const char* name;
    QSize size;  // height 0: the card's own
  } scenes[] = {
      {"welcome", {390, 844}}, {"home", {390, 844}}, {"home-connected", {390, 844}},
      {"home-cover", {390, 844}}, {"home-cover-360", {360, 720}}, {"home-sending-cover-360", {360, 720}},
      {"home-connected-cover", {390, 844}}, {"home-sideways", {720, 360}},
      {"permissions-not-asked", {390, 844}}, {"permissions-limited", {390, 844}}, {"permissions-denied", {390, 844}},
      {"permissions-full", {390, 844}}, {"hero-waiting", {358, 0}}, {"hero-sending", {358, 0}},
      {"hero-connected", {358, 0}}, {"hero-no-network", {358, 0}}, {"hero-waiting-cover-328", {328, 0}},
      {"hero-sending-cover", {358, 0}}, {"hero-connected-cover", {358, 0}}, {"hero-no-network-cover-288", {288, 0}},
      {"photos", {390, 844}}, {"photos-safe-filter", {390, 844}}, {"viewer-safe", {390, 844}},
      {"viewer-not-safe", {390, 844}}, {"laptops", {390, 844}}, {"laptops-forget", {390, 844}},
      {"laptops-forget-sideways", {720, 360}}, {"settings", {390, 844}}, {"delete-sheet", {390, 844}},
      {"delete-sheet-one", {390, 844}}, {"delete-sheet-360", {360, 720}}, {"delete-sheet-sideways", {720, 360}},
  };
  for (const auto& [scene, size] : scenes) {
    for (const char* appearance : {"light", "dark"}) {
      const std::string file = out.path() + "/" + scene + "-" + appearance + ".png";
      SCOPED_TRACE(file);
      const QImage image(QString::fromStdString(file));
      ASSERT_FALSE(image.isNull());
      if (size.height() == 0) {
        EXPECT_EQ(image.width(), size.width());
        EXPECT_GT(image.height(), 150);
      } else {
        EXPECT_EQ(image.size(), size);
      }
      std::set<QRgb> colours;
      for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) colours.insert(image.pixel(x, y));
      }
      EXPECT_GT(colours.size(), 20u);  // text and shapes, not a blank page
      // Light pictures are light at the top corner, dark ones dark; the
      // viewer shows a photo on black in both.
      // Over a cover, the card's corner is the page behind its rounded edge.
      const QRgb corner = image.pixel(3, 3);
      if (!std::string(scene).starts_with("viewer")) {
        EXPECT_EQ(qGray(corner) > 128, std::string(appearance) == "light") << std::hex << corner;
      }
    }
  }
}

}  // namespace
}  // namespace lumenvale
