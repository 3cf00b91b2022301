#include "screens/laptops_rules.h"

#include <cmath>

#include "hub/home_state.h"

namespace lumenvale::LaptopsRules {

std::int64_t secondsLeft(TimePoint expiresAt, TimePoint now) {
  if (expiresAt <= now) return 0;
  const double left = std::chrono::duration<double>(expiresAt - now).count();
  return static_cast<std::int64_t>(std::ceil(left));
}

bool isLive(const HubState& state, const Laptop& laptop, TimePoint now) {
  return state.lastLaptop == laptop.name &&
         std::chrono::duration<double>(now - state.lastSeen).count() < Hero::kPresentSeconds;
}

}  // namespace lumenvale::LaptopsRules
