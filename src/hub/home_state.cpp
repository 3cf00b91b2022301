#include "hub/home_state.h"

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "hub/hub.h"
#include "util/text.h"

namespace lumenvale {

namespace {


}  // namespace

Hero::Case Hero::of(const HubState& state, TimePoint now) {
  const bool online = state.port != 0 && (!state.addresses.empty() || state.connected);
  if (!online) return NoNetwork{};
  if (state.lastLaptop && secondsBetween(state.lastSeen, now) < kPresentSeconds) {
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

std::int64_t HomeState::speed(const std::vector<Sample>& samples) {
  if (samples.size() < 2) return 0;
  const Sample& first = samples.front();
  const Sample& last = samples.back();
  const double dt = secondsBetween(first.first, last.first);
  if (!(dt > 0)) return 0;
  const double rate = std::trunc(static_cast<double>(last.second - first.second) / dt);
  return rate < 0 ? 0 : static_cast<std::int64_t>(rate);
}

std::string HomeState::countdown(std::int64_t seconds) {
  const std::int64_t minutes = seconds / 60;
  const std::int64_t rest = seconds - minutes * 60;
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(minutes), static_cast<long long>(rest));
  return text;
}

const std::vector<std::string>& HomeState::months() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    UErrorCode status = U_ZERO_ERROR;
    const icu::DateFormatSymbols symbols(icu::Locale("en_US"), status);
    int32_t count = 0;
    const icu::UnicodeString* found =
        U_SUCCESS(status) ? symbols.getMonths(count, icu::DateFormatSymbols::STANDALONE, icu::DateFormatSymbols::WIDE)
                          : nullptr;
    for (int32_t i = 0; found != nullptr && i < count && i < 12; ++i) {
      std::string name;
      found[i].toUTF8String(name);
      list.push_back(std::move(name));
    }
    return list;
  }();
  return names;
}

std::string HomeState::monthTitle(std::string_view key) {
  const std::string_view head = key.substr(0, 7);
  const std::size_t dash = head.find('-');
  if (dash == std::string_view::npos || head.find('-', dash + 1) != std::string_view::npos) return "";
  const std::string_view yearText = head.substr(0, dash);
  const std::string_view monthText = head.substr(dash + 1);
  if (yearText.size() != 4) return "";
  const std::optional<std::int64_t> year = Text::parseInteger(yearText);
  const std::optional<std::int64_t> month = Text::parseInteger(monthText);
  if (!year || !month || *month < 1 || *month > 12) return "";
  const std::vector<std::string>& names = months();
  if (names.size() != 12) return "";
  return names[static_cast<std::size_t>(*month - 1)] + " " + std::to_string(*year);
}

}  // namespace lumenvale
