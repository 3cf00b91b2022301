// What the Home tab shows, worked out apart from any toolkit: the three
// counters, the notices that need the owner, the cover picture and the
// address texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "library/asset.h"
#include "screens/app_flow.h"

namespace lumenvale::HomeRules {

struct Counters {
  std::string onPhone;
  std::string safe;
  std::string notSafe;
  bool operator==(const Counters&) const = default;
};

// counters shows (safe, all) as texts; an en dash each until counted. The
// safe count never passes all, and neither goes below 0.
Counters counters(std::optional<std::pair<std::int64_t, std::int64_t>> counts);

struct Notice {
  std::string key;     // "server.failed": its texts are key + ".title" and ".body"
  std::string tone;    // info, warn, danger
  std::string icon;
  std::string action;  // the key of its button, or ""
  bool operator==(const Notice&) const = default;
};

// notices lists, in order, the ones whose condition holds. `catalogRebuilt`:
// the photo catalog was found damaged at this start and built again.
std::vector<Notice> notices(bool failed, PhotoAccess access, bool fromCloud, std::int64_t lateDeleted,
                            bool catalogRebuilt);

// cover is the first asset of the first 8 that is not a video, if any.
std::optional<std::string> cover(const std::vector<Asset>& firstPage);

// pairingCodeParts splits "ABCD-EFGH" at its first "-" (shown with an en
// dash between); a code without one is one part.
std::pair<std::string, std::optional<std::string>> pairingCodeParts(const std::string& code);

}  // namespace lumenvale::HomeRules
