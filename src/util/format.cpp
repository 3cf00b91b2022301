#include "util/format.h"

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdio>
#include <memory>

#include "util/clock.h"
#include "util/date_formatter.h"
#include "util/text.h"

namespace lumenvale::Format {
namespace {

namespace number = icu::number;

const icu::Locale& enUS() {
  static const icu::Locale locale("en_US");
  return locale;
}

// Number formatters are immutable and thread-safe once made.
const number::LocalizedNumberFormatter& countFormatter() {
  static const number::LocalizedNumberFormatter formatter =
      number::NumberFormatter::withLocale(enUS()).precision(number::Precision::integer());
  return formatter;
}

const number::LocalizedNumberFormatter& sizeFormatter(int fractionDigits) {
  static const std::array<number::LocalizedNumberFormatter, 2> formatters = {
      number::NumberFormatter::withLocale(enUS())
          .precision(number::Precision::maxFraction(0))
          .roundingMode(UNUM_ROUND_HALFUP),
      number::NumberFormatter::withLocale(enUS())
          .precision(number::Precision::maxFraction(1))
          .roundingMode(UNUM_ROUND_HALFUP),
  };
  return formatters[fractionDigits];
}

std::string utf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

DateFormatter& dayFormatter() {
  static DateFormatter formatter("MMM d, yyyy", "en_US");
  return formatter;
}

DateFormatter& takenFormatter() {
  static DateFormatter formatter("EEEE, MMMM d, yyyy \u00B7 h:mm a", "en_US");
  return formatter;
}

DateFormatter& isoFormatter() {
  // The root locale keeps digits and era rules plain; the zone is UTC.
  static DateFormatter formatter("yyyy-MM-dd'T'HH:mm:ssXXX", "", "UTC");
  return formatter;
}

}  // namespace

std::string count(std::int64_t n) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString text = countFormatter().formatInt(n, status).toString(status);
  if (U_FAILURE(status)) return std::to_string(n);
  return utf8(text);
}

std::string bytes(std::int64_t n) {
  static constexpr std::array<const char*, 5> kUnits = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(n);
  std::size_t unit = 0;
  while (value >= 1000 && unit + 1 < kUnits.size()) {
    value /= 1000;
    ++unit;
  }
  const int fractionDigits = (unit > 0 && value < 100) ? 1 : 0;
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString text = sizeFormatter(fractionDigits).formatDouble(value, status).toString(status);
  std::string number;
  if (U_FAILURE(status)) {
    number = std::to_string(value);
  } else {
    number = utf8(text);
  }
  return number + " " + kUnits[unit];
}

std::string day(TimePoint time, std::string_view zone) {
  return dayFormatter().format(millisSince1970(time), zone).value_or(std::string());
}

std::string taken(TimePoint time, std::string_view zone) {
  return takenFormatter().format(millisSince1970(time), zone).value_or(std::string());
}

std::string iso8601(TimePoint time) { return isoFormatter().format(millisSince1970(time)).value_or(std::string()); }

std::optional<TimePoint> parseIso8601(std::string_view text) {
  const std::optional<double> millis = isoFormatter().parse(text);
  if (!millis) return std::nullopt;
  // A year before 1678 or after 2261 is held at that end.
  return fromMillisSince1970(*millis);
}

std::string countdown(std::int64_t seconds) {
  const std::int64_t minutes = seconds / 60;
  const std::int64_t rest = seconds - minutes * 60;
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(minutes), static_cast<long long>(rest));
  return text;
}

const std::vector<std::string>& months() {
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

std::string monthTitle(std::string_view key) {
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

}  // namespace lumenvale::Format
