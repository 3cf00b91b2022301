#include "screens/palette.h"

namespace lumenvale {

namespace {

// alpha turns an opacity into the top byte of an ARGB value.
constexpr std::uint32_t alpha(double opacity) { return static_cast<std::uint32_t>(opacity * 255.0 + 0.5) << 24; }
constexpr std::uint32_t kOpaque = 0xff000000;

}  // namespace

const std::array<PaletteColour, 30> kPalette = {{
    {"bg", kOpaque | 0xFFFFFF, kOpaque | 0x0E100D},
    {"surface", kOpaque | 0xF4F4F4, kOpaque | 0x181B16},
    {"surface2", kOpaque | 0xEBEBEB, kOpaque | 0x22261F},
    {"line", kOpaque | 0xD9D9D9, kOpaque | 0x2E3329},
    {"ink", kOpaque | 0x0B0B0B, kOpaque | 0xF2F4EE},
    {"ink2", kOpaque | 0x3A3A3A, kOpaque | 0xCDD2C7},
    {"muted", kOpaque | 0x6E6E6E, kOpaque | 0x9AA294},
    {"lime", kOpaque | 0xACE279, kOpaque | 0xACE279},
    {"onLime", kOpaque | 0x0B0B0B, kOpaque | 0x0B0B0B},
    {"limeStrong", kOpaque | 0x6DA23C, kOpaque | 0x6DA23C},
    {"limeSoft", kOpaque | 0xEEF8E3, kOpaque | 0x1F2A16},
    {"pillDark", kOpaque | 0x0B0B0B, kOpaque | 0xF2F4EE},
    {"onDark", kOpaque | 0xFFFFFF, kOpaque | 0x0B0B0B},
    {"white", kOpaque | 0xFFFFFF, kOpaque | 0xFFFFFF},
    {"black", kOpaque | 0x0B0B0B, kOpaque | 0x0B0B0B},
    {"danger", kOpaque | 0xC93636, kOpaque | 0xF06A6A},
    {"dangerFill", kOpaque | 0xC93636, kOpaque | 0xC93636},
    {"onDanger", kOpaque | 0xFFFFFF, kOpaque | 0xFFFFFF},
    {"dangerSoft", kOpaque | 0xFDF0F0, kOpaque | 0x3A1A1A},
    {"warn", kOpaque | 0xFFF5E0, kOpaque | 0x2E2412},
    {"onWarn", kOpaque | 0x7A4B00, kOpaque | 0xFFD58A},
    {"wait", kOpaque | 0xF2B544, kOpaque | 0xF2B544},
    {"glass", alpha(0.639) | 0xFFFFFF, alpha(0.62) | 0x121510},
    {"glassLine", alpha(0.702) | 0xFFFFFF, alpha(0.122) | 0xFFFFFF},
    {"scrim", alpha(0.451) | 0x080A06, alpha(0.451) | 0x080A06},
    {"shade", alpha(0.141) | 0x0F190A, alpha(0.502) | 0x000000},
    {"shadeSm", alpha(0.078) | 0x0F190A, alpha(0.349) | 0x000000},
    {"mapSea", kOpaque | 0xEEF1EA, kOpaque | 0x141712},
    {"mapLand", kOpaque | 0xFFFFFF, kOpaque | 0x262B22},
    {"mapLine", kOpaque | 0xDCE3D3, kOpaque | 0x353B30},
}};

const std::array<PaletteColour, 5> kCoverPalette = {{
    {"onCover2", alpha(0.9) | 0xFFFFFF, alpha(0.9) | 0xFFFFFF},
    {"onCoverMuted", alpha(0.8) | 0xFFFFFF, alpha(0.8) | 0xFFFFFF},
    {"coverTrack", alpha(0.3) | 0xFFFFFF, alpha(0.3) | 0xFFFFFF},
    {"scrimTop", alpha(0.65) | 0x000000, alpha(0.65) | 0x000000},
    {"scrimBottom", alpha(0.8) | 0x000000, alpha(0.8) | 0x000000},
}};

std::optional<PaletteColour> paletteColour(std::string_view name) {
  for (const PaletteColour& colour : kPalette) {
    if (colour.name == name) return colour;
  }
  for (const PaletteColour& colour : kCoverPalette) {
    if (colour.name == name) return colour;
  }
  return std::nullopt;
}

}  // namespace lumenvale
