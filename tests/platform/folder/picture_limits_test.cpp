#include "platform/folder/picture_limits.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumenvale::PictureLimits {
namespace {

using namespace std::chrono_literals;

// Long enough for a thread that could enter to have entered.
constexpr auto kSettle = 100ms;
constexpr auto kPatience = 10s;

PictureLimits::Header header(std::string loader, std::int64_t width, std::int64_t height, int bands = 3,
                             bool interlaced = false, int bytesPerSample = 1, int pages = 1) {
  return {std::move(loader), width, height, bands, bytesPerSample, interlaced, pages};
}

TEST(PictureLimitsTest, PicturesAreRefusedByFormatPixelsAndTheMemoryTheirDecodeHolds) {
  struct Case {
    const char* name;
    PictureLimits::Header header;
    bool decoded;
  };
  const std::int64_t thumbnail = 512 * 384;
  const Case cases[] = {
      // Read a few lines at a time, at an eighth for a JPEG.
      {"a 200-megapixel JPEG", header("jpegload_source", 16320, 12240), true},
      {"a 200-megapixel PNG", header("pngload_source", 16320, 12240), true},
      {"one pixel past the pixel limit", header("jpegload_source", kMaxPixels + 1, 1), false},
      // Decoded whole.
      {"a 12-megapixel progressive JPEG", header("jpegload", 4000, 3000, 3, true), true},
      {"a 40-megapixel progressive JPEG", header("jpegload", 7300, 5500, 3, true), false},
      {"a 12-megapixel interlaced PNG", header("pngload_source", 4000, 3000, 4, true), true},
      {"the 20000 x 20000 interlaced PNG", header("pngload_source", 20000, 20000, 3, true), false},
      {"a 16-bit interlaced PNG of 25 megapixels", header("pngload_source", 5000, 5000, 4, true, 2), false},
      {"a 12-megapixel HEIC", header("heifload_source", 4032, 3024), true},
      {"a 48-megapixel HEIC", header("heifload_source", 8064, 6048), false},
      {"a GIF of 20 megapixels", header("gifload_source", 5000, 4000), true},
      {"a GIF canvas of 144 megapixels", header("gifload_source", 12000, 12000), false},
      {"a 16383 x 16383 WebP", header("webpload_source", 16383, 16383, 4), false},
      {"a 24-megapixel TIFF", header("tiffload_source", 6000, 4000), true},
      {"a TIFF of 70 megapixels", header("tiffload_source", 10000, 7000), false},
      // libvips picks its loader by content: a file named .jpg may be any.
      {"an SVG", header("svgload_source", 100, 100), false},
      {"a matrix file", header("matrixload_source", 10, 10, 1), false},
      {"a libvips image file", header("vipsload_source", 10, 10), false},
      {"no loader", header("", 10, 10), false},
      {"no pixels", header("jpegload_source", 0, 10), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::int64_t> cost = decodeCost(c.header, thumbnail);
    EXPECT_EQ(cost.has_value(), c.decoded);
    if (cost) {
      EXPECT_GT(*cost, 0);
      EXPECT_LE(*cost, kDecodeMemory);
    }
  }
}

TEST(PictureLimitsTest, VideoFramesAreRefusedByTheMemoryTheirDecodeHolds) {
  struct Case {
    const char* name;
    std::int64_t width, height;
    bool decoded;
  };
  const Case cases[] = {
      {"1080p", 1920, 1080, true},
      {"4K", 3840, 2160, true},
      {"5K", 5120, 2880, true},
      {"8K", 7680, 4320, false},
      {"20000 x 20000", 20000, 20000, false},
      {"a side past any int", 1LL << 32, 1, false},
      {"no size", 0, 1080, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(videoCost(c.width, c.height, 512 * 288).has_value(), c.decoded);
  }
}

TEST(DecodeGateTest, RefusesAtOnceADecodeThatCouldNeverFit) {
  DecodeGate gate(100, 2);
  EXPECT_FALSE(gate.enter(101).has_value());
  EXPECT_FALSE(gate.enter(-1).has_value());
  EXPECT_TRUE(gate.enter(100).has_value());
}

TEST(DecodeGateTest, LetsInNoMoreDecodesThanItsPlacesAndItsMemory) {
  struct Case {
    const char* name;
    std::vector<std::int64_t> inside;
    std::int64_t next;
    bool waits;
  };
  const Case cases[] = {
      {"a free place and room", {10}, 10, false},
      {"every place taken", {10, 10}, 10, true},
      {"room to the last byte", {60}, 40, false},
      {"one byte short", {60}, 41, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodeGate gate(100, 2);
    std::vector<DecodeGate::Pass> passes;
    for (std::int64_t cost : c.inside) passes.push_back(*gate.enter(cost));
    std::future<bool> next = std::async(std::launch::async, [&] { return gate.enter(c.next).has_value(); });
    EXPECT_EQ(next.wait_for(c.waits ? kSettle : kPatience),
              c.waits ? std::future_status::timeout : std::future_status::ready);
    passes.clear();
    ASSERT_EQ(next.wait_for(kPatience), std::future_status::ready);
    EXPECT_TRUE(next.get());
  }
}

TEST(DecodeGateTest, LetsDecodesInInTheOrderTheyAsked) {
  DecodeGate gate(100, 4);
  std::optional<DecodeGate::Pass> first = gate.enter(60);
  std::mutex mutex;
  std::vector<std::string> entered;
  const auto enter = [&](std::string name, std::int64_t cost) {
    std::optional<DecodeGate::Pass> pass = gate.enter(cost);
    std::lock_guard hold(mutex);
    entered.push_back(pass ? name : "refused " + name);
  };
  // The large one waits for room; the small one would fit at once, but
  // asked later.
  const auto queued = [&](int count) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (gate.waiting() < count && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return gate.waiting() == count;
  };
  std::future<void> large = std::async(std::launch::async, enter, "large", 50);
  ASSERT_TRUE(queued(1));
  std::future<void> small = std::async(std::launch::async, enter, "small", 10);
  ASSERT_TRUE(queued(2));
  EXPECT_EQ(small.wait_for(kSettle), std::future_status::timeout);
  first.reset();
  ASSERT_EQ(large.wait_for(kPatience), std::future_status::ready);
  ASSERT_EQ(small.wait_for(kPatience), std::future_status::ready);
  // Both fit once the first is gone and may then be let in together: which
  // of the two writes its name first is the scheduler's. That the small one
  // did not pass the large one is what the wait above shows.
  std::sort(entered.begin(), entered.end());
  EXPECT_EQ(entered, (std::vector<std::string>{"large", "small"}));
}

}  // namespace
}  // namespace lumenvale::PictureLimits
