// The one palette every screen draws with: 30 named colours, each with a
// light and a dark value. Screens name a colour, never a value, so that a
// change of appearance recolours everything at once.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumenvale {

struct PaletteColour {
  std::string_view name;
  std::uint32_t light;  // 0xAARRGGBB
  std::uint32_t dark;
};

// kPalette lists the colours in their order.
extern const std::array<PaletteColour, 30> kPalette;

// kCoverPalette: the colours of texts and marks drawn over a photo (the
// Home card's cover), the same in both themes, and the scrim between
// photo and text: at 65% black at its lightest, the lightest texts keep
// 4.5:1 even over a white photo, the muted ones too.
extern const std::array<PaletteColour, 5> kCoverPalette;

// paletteColour finds a colour by name.
std::optional<PaletteColour> paletteColour(std::string_view name);

}  // namespace lumenvale
