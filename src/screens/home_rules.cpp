#include "screens/home_rules.h"

#include <algorithm>

#include "util/format.h"

namespace lumenvale::HomeRules {

namespace {
constexpr const char* kEnDash = "\u2013";
}

Counters counters(std::optional<std::pair<std::int64_t, std::int64_t>> counts) {
  if (!counts) return {kEnDash, kEnDash, kEnDash};
  const std::int64_t all = std::max<std::int64_t>(0, counts->second);
  const std::int64_t safe = std::min(std::max<std::int64_t>(0, counts->first), all);
  return {Format::count(all), Format::count(safe), Format::count(all - safe)};
}

std::vector<Notice> notices(bool failed, LibraryAccess access, bool fromCloud, std::int64_t lateDeleted,
                            bool catalogRebuilt) {
  std::vector<Notice> shown;
  if (failed) shown.push_back({"server.failed", "danger", "alert", ""});
  if (catalogRebuilt) shown.push_back({"catalog.rebuilt", "warn", "info", ""});
  if (access == LibraryAccess::limited) shown.push_back({"access.limited", "warn", "info", "access.choose"});
  if (fromCloud) shown.push_back({"cloud", "info", "info", ""});
  if (lateDeleted >= 1) shown.push_back({"delete.late", "info", "info", "delete.late.ok"});
  return shown;
}

std::optional<std::string> cover(const std::vector<Asset>& firstPage) {
  const std::size_t looked = std::min<std::size_t>(firstPage.size(), 8);
  for (std::size_t i = 0; i < looked; ++i) {
    if (firstPage[i].kind != "video") return firstPage[i].id;
  }
  return std::nullopt;
}

HeroTexts heroTexts(const std::string& heroCase, std::optional<std::pair<std::int64_t, std::int64_t>> counts) {
  if (heroCase == "waiting") {
    return {"hero.ready", "star", "lime", "hero.waiting.state", false, "hero.waiting", "hero.waiting.accent"};
  }
  if (heroCase == "sending") return {"hero.moving", "transfer", "lime", "hero.connected.state", true, "hero.sending", ""};
  if (heroCase == "connected") {
    if (counts && counts->second <= 0) {
      return {"hero.caughtUp", "shield", "lime", "hero.connected.state", true, "hero.connected.empty",
              "hero.connected.empty.accent"};
    }
    if (counts && counts->first >= counts->second) {
      return {"hero.caughtUp", "shield", "lime", "hero.connected.state", true, "hero.connected", "hero.connected.accent"};
    }
    return {"hero.behind", "info", "dark", "hero.connected.state", true, "hero.connected.behind", ""};
  }
  // Offline is no good news: not in the positive colour.
  return {"hero.offline.eyebrow", "wifi", "warn", "hero.offline.state", false, "hero.offline", "hero.offline.accent"};
}

std::pair<std::string, std::optional<std::string>> pairingCodeParts(const std::string& code) {
  const std::size_t dash = code.find('-');
  if (dash == std::string::npos) return {code, std::nullopt};
  return {code.substr(0, dash), code.substr(dash + 1)};
}

}  // namespace lumenvale::HomeRules
