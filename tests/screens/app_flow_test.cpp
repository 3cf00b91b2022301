// Tests of the app root's decisions and the palette's values.
#include "screens/app_flow.h"

#include <gtest/gtest.h>

#include <set>

#include "screens/home_rules.h"
#include "screens/palette.h"

namespace lumenvale {
namespace {

TEST(AppFlow, WhichScreenShows) {
  struct Case {
    bool welcomed;
    LibraryAccess access;
    bool setup;
    RootScreen screen;
  };
  const Case cases[] = {
      {false, LibraryAccess::full, false, RootScreen::welcome},
      {false, LibraryAccess::notAsked, true, RootScreen::welcome},
      {true, LibraryAccess::notAsked, true, RootScreen::permissions},
      {true, LibraryAccess::denied, false, RootScreen::permissions},
      {true, LibraryAccess::limited, true, RootScreen::permissions},  // granted, but the owner has not continued
      {true, LibraryAccess::limited, false, RootScreen::frame},
      {true, LibraryAccess::full, false, RootScreen::frame},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.access) * 10 + c.welcomed * 2 + c.setup);
    EXPECT_EQ(rootScreen(c.welcomed, c.access, c.setup), c.screen);
  }
  for (const auto& [theme, system, dark] : std::vector<std::tuple<std::string, bool, bool>>{
           {"dark", false, true}, {"light", true, false}, {"system", true, true}, {"system", false, false},
           {"", true, true},      {"Dark", false, false}}) {
    EXPECT_EQ(isDark(theme, system), dark) << theme << " " << system;
  }
}

TEST(Palette, ThirtyNamedColoursAndTheOnesThatNeverChange) {
  std::set<std::string_view> names;
  for (const PaletteColour& colour : kPalette) names.insert(colour.name);
  EXPECT_EQ(names.size(), 30u);
  for (const char* same : {"lime", "limeStrong", "dangerFill", "wait", "white", "black", "onLime", "onDanger", "scrim"}) {
    const auto colour = paletteColour(same);
    ASSERT_TRUE(colour) << same;
    EXPECT_EQ(colour->light, colour->dark) << same;
  }
  EXPECT_EQ(paletteColour("bg")->light, 0xFFFFFFFFu);
  EXPECT_EQ(paletteColour("bg")->dark, 0xFF0E100Du);
  EXPECT_EQ(paletteColour("pillDark")->dark, paletteColour("ink")->dark);
  // Opacities as given: 0.639 of 255 rounds to 163 (0xA3), 0.122 to 31.
  EXPECT_EQ(paletteColour("glass")->light, 0xA3FFFFFFu);
  EXPECT_EQ(paletteColour("glassLine")->dark, 0x1FFFFFFFu);
  EXPECT_EQ(paletteColour("shade")->dark, 0x80000000u);
  EXPECT_FALSE(paletteColour("purple"));
}

}  // namespace
}  // namespace lumenvale

namespace lumenvale {
namespace {

TEST(HomeRules, CountersNoticesCoverAndCode) {
  using HomeRules::Counters;
  EXPECT_EQ(HomeRules::counters(std::nullopt), (Counters{"\u2013", "\u2013", "\u2013"}));
  EXPECT_EQ(HomeRules::counters(std::pair<std::int64_t, std::int64_t>{5, 3}), (Counters{"3", "3", "0"}));
  EXPECT_EQ(HomeRules::counters(std::pair<std::int64_t, std::int64_t>{1200, 4567}), (Counters{"4,567", "1,200", "3,367"}));
  EXPECT_EQ(HomeRules::counters(std::pair<std::int64_t, std::int64_t>{-4, 10}), (Counters{"10", "0", "10"}));
  EXPECT_EQ(HomeRules::counters(std::pair<std::int64_t, std::int64_t>{3, -1}), (Counters{"0", "0", "0"}));

  using HomeRules::Notice;
  EXPECT_TRUE(HomeRules::notices(false, LibraryAccess::full, false, 0, false).empty());
  EXPECT_EQ(HomeRules::notices(true, LibraryAccess::limited, true, 2, true),
            (std::vector<Notice>{{"server.failed", "danger", "alert", ""},
                                 {"catalog.rebuilt", "warn", "info", ""},
                                 {"access.limited", "warn", "info", "access.choose"},
                                 {"cloud", "info", "info", ""},
                                 {"delete.late", "info", "info", "delete.late.ok"}}));
  EXPECT_EQ(HomeRules::notices(false, LibraryAccess::denied, false, 1, false),
            (std::vector<Notice>{{"delete.late", "info", "info", "delete.late.ok"}}));

  const auto asset = [](const char* id, const char* kind) {
    Asset made;
    made.id = id;
    made.kind = kind;
    return made;
  };
  std::vector<Asset> videos(8, asset("v", "video"));
  EXPECT_EQ(HomeRules::cover(videos), std::nullopt);
  videos.push_back(asset("ninth", "photo"));  // past the first eight
  EXPECT_EQ(HomeRules::cover(videos), std::nullopt);
  EXPECT_EQ(HomeRules::cover({asset("v", "video"), asset("live", "live"), asset("p", "photo")}), "live");
  EXPECT_EQ(HomeRules::cover({}), std::nullopt);

  // The card never says everything is copied unless counting says so.
  using HomeRules::HeroTexts;
  using Counts = std::optional<std::pair<std::int64_t, std::int64_t>>;
  const struct {
    const char* heroCase;
    Counts counts;
    const char* eyebrow;
    const char* headline;
    const char* accent;
  } heroCases[] = {
      {"waiting", std::nullopt, "hero.ready", "hero.waiting", "hero.waiting.accent"},
      {"sending", Counts({1, 9}), "hero.moving", "hero.sending", ""},
      {"connected", Counts({9, 9}), "hero.caughtUp", "hero.connected", "hero.connected.accent"},
      {"connected", Counts({12, 9}), "hero.caughtUp", "hero.connected", "hero.connected.accent"},
      {"connected", Counts({8, 9}), "hero.behind", "hero.connected.behind", ""},
      {"connected", Counts({0, 9}), "hero.behind", "hero.connected.behind", ""},
      {"connected", std::nullopt, "hero.behind", "hero.connected.behind", ""},
      {"connected", Counts({0, 0}), "hero.caughtUp", "hero.connected.empty", "hero.connected.empty.accent"},
      {"noNetwork", Counts({9, 9}), "hero.offline.eyebrow", "hero.offline", "hero.offline.accent"},
      {"anything else", std::nullopt, "hero.offline.eyebrow", "hero.offline", "hero.offline.accent"},
  };
  for (const auto& c : heroCases) {
    SCOPED_TRACE(std::string(c.heroCase) + (c.counts ? " " + std::to_string(c.counts->first) + "/" +
                                                           std::to_string(c.counts->second) : " uncounted"));
    const HeroTexts texts = HomeRules::heroTexts(c.heroCase, c.counts);
    EXPECT_EQ(texts.eyebrow, c.eyebrow);
    EXPECT_EQ(texts.headline, c.headline);
    EXPECT_EQ(texts.accent, c.accent);
    EXPECT_EQ(texts.live, std::string(c.heroCase) == "sending" || std::string(c.heroCase) == "connected");
    EXPECT_EQ(texts.tone == "lime", texts.eyebrow == "hero.ready" || texts.eyebrow == "hero.moving" ||
                                        texts.eyebrow == "hero.caughtUp");
  }

  EXPECT_EQ(HomeRules::pairingCodeParts("ABCD-EFGH"), (std::pair<std::string, std::optional<std::string>>{"ABCD", "EFGH"}));
  EXPECT_EQ(HomeRules::pairingCodeParts("ABCDEFGH"), (std::pair<std::string, std::optional<std::string>>{"ABCDEFGH", std::nullopt}));
  EXPECT_EQ(HomeRules::pairingCodeParts("A-B-C"), (std::pair<std::string, std::optional<std::string>>{"A", "B-C"}));
}

}  // namespace
}  // namespace lumenvale
