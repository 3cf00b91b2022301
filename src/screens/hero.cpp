#include "screens/hero.h"

#include <algorithm>

namespace lumenvale::Hero {

Case of(const HubState& state, TimePoint now) {
  const bool online = state.port != 0 && (!state.addresses.empty() || state.connected);
  if (!online) return NoNetwork{};
  if (state.lastLaptop && secondsBetween(state.lastSeen, now) < kLaptopPresentSeconds) {
    if (state.inFlight >= 1 || secondsBetween(state.lastTransfer, now) < kLingerSeconds) {
      return Sending{*state.lastLaptop, state.sentFiles, state.sentBytes, state.bytesPerSecond};
    }
    return Connected{*state.lastLaptop};
  }
  Waiting waiting;
  if (state.code) {
    waiting.code = state.code->display();
    const double left = secondsBetween(now, state.code->expiresAt);
    waiting.secondsLeft = left <= 0 ? 0 : static_cast<int>(std::min(left, kCodeScaleSeconds));
  }
  waiting.fraction = waiting.secondsLeft / kCodeScaleSeconds;
  return waiting;
}

}  // namespace lumenvale::Hero
