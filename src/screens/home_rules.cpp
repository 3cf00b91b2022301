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

std::vector<Notice> notices(bool failed, PhotoAccess access, bool fromCloud, std::int64_t lateDeleted,
                            bool catalogRebuilt) {
  std::vector<Notice> shown;
  if (failed) shown.push_back({"server.failed", "danger", "alert", ""});
  if (catalogRebuilt) shown.push_back({"catalog.rebuilt", "warn", "info", ""});
  if (access == PhotoAccess::limited) shown.push_back({"access.limited", "warn", "info", "access.choose"});
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

std::pair<std::string, std::optional<std::string>> pairingCodeParts(const std::string& code) {
  const std::size_t dash = code.find('-');
  if (dash == std::string::npos) return {code, std::nullopt};
  return {code.substr(0, dash), code.substr(dash + 1)};
}

}  // namespace lumenvale::HomeRules
