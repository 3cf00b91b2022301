#include "screens/laptops_rules.h"

#include <algorithm>
#include <cmath>

namespace lumenvale::LaptopsRules {

std::int64_t secondsLeft(TimePoint expiresAt, TimePoint now) {
  if (expiresAt <= now) return 0;
  const double left = std::chrono::duration<double>(expiresAt - now).count();
  return static_cast<std::int64_t>(std::ceil(left));
}

bool isLive(const HubState& state, const Laptop& laptop, TimePoint now) {
  return state.lastLaptop == laptop.name && secondsBetween(state.lastSeen, now) < kLaptopPresentSeconds;
}

std::vector<std::string> fingerprintGroups(const std::string& fingerprint) {
  constexpr std::size_t kDigits = 64;
  constexpr std::size_t kGroup = 4;
  const bool hex = std::all_of(fingerprint.begin(), fingerprint.end(),
                               [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
  if (fingerprint.size() != kDigits || !hex) return {};
  std::vector<std::string> groups;
  for (std::size_t at = 0; at < kDigits; at += kGroup) groups.push_back(fingerprint.substr(at, kGroup));
  return groups;
}

}  // namespace lumenvale::LaptopsRules
