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
  std::string key;   // "server.failed": its texts are key + ".title" and ".body"
  std::string tone;  // info, warn, danger
  std::string icon;
  std::string action;  // the key of its button, or ""
  bool operator==(const Notice&) const = default;
};

// notices lists, in order, the ones whose condition holds. `catalogRebuilt`:
// the photo catalog was found damaged at this start and built again.
std::vector<Notice> notices(bool failed, LibraryAccess access, bool fromCloud, std::int64_t lateDeleted,
                            bool catalogRebuilt);

// cover is the first asset of the first 8 that is not a video, if any.
std::optional<std::string> cover(const std::vector<Asset>& firstPage);

// The Home card's words for a case of the card ("waiting", "sending",
// "connected", "noNetwork"), as localisation keys.
struct HeroTexts {
  std::string eyebrow;   // the tag's text
  std::string icon;      // the tag's icon
  std::string tone;      // the tag's tone: lime is good news
  std::string state;     // the state pill's text
  bool live = false;     // the pill's dot pulses: a laptop is here
  std::string headline;  // the headline's plain part
  std::string accent;    // its accent; "" when the accent is the laptop's name
  bool operator==(const HeroTexts&) const = default;
};

// heroTexts chooses them. A connected laptop is "Caught up" and
// "Everything is copied" only once counted (safe, all) says every asset is
// safe; an empty library has nothing to copy; otherwise the card says
// which laptop is here, and that not everything is copied yet.
HeroTexts heroTexts(const std::string& heroCase, std::optional<std::pair<std::int64_t, std::int64_t>> counts);

// pairingCodeParts splits "ABCD-EFGH" at its first "-" (shown with an en
// dash between); a code without one is one part.
std::pair<std::string, std::optional<std::string>> pairingCodeParts(const std::string& code);

}  // namespace lumenvale::HomeRules
