#include "util/format.h"
#include "util/mutex.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <array>
#include <memory>

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

// A SimpleDateFormat keeps a calendar that format() writes to, so each one is
// used under its own mutex.
class DateFormatter {
 public:
  DateFormatter(const char* pattern, const icu::Locale& locale, icu::TimeZone* zone) {
    UErrorCode status = U_ZERO_ERROR;
    format_ = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern), locale,
                                                      status);
    if (U_FAILURE(status)) {
      format_.reset();
      delete zone;
      return;
    }
    if (zone != nullptr) format_->adoptTimeZone(zone);
    format_->setLenient(false);
  }

  std::optional<std::string> format(TimePoint time, std::string_view zone) {
    if (!format_) return std::nullopt;
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    MutexLock hold(mutex_);
    std::unique_ptr<icu::TimeZone> saved;
    if (!zone.empty()) {
      saved.reset(format_->getTimeZone().clone());
      format_->adoptTimeZone(icu::TimeZone::createTimeZone(
          icu::UnicodeString::fromUTF8(icu::StringPiece(zone.data(), static_cast<int32_t>(zone.size())))));
    }
    icu::UnicodeString text;
    format_->format(static_cast<UDate>(millis.count()), text);
    if (saved) format_->adoptTimeZone(saved.release());
    return utf8(text);
  }

  std::optional<TimePoint> parse(std::string_view text) {
    if (!format_) return std::nullopt;
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    MutexLock hold(mutex_);
    icu::ParsePosition position(0);
    const UDate date = format_->parse(input, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(
        std::chrono::duration<double, std::milli>(date)));
  }

 private:
  Mutex mutex_;
  // Made once by the constructor; used under mutex_.
  std::unique_ptr<icu::SimpleDateFormat> format_ PT_GUARDED_BY(mutex_);
};

DateFormatter& dayFormatter() {
  static DateFormatter formatter("MMM d, yyyy", enUS(), nullptr);
  return formatter;
}

DateFormatter& takenFormatter() {
  static DateFormatter formatter("EEEE, MMMM d, yyyy \u00B7 h:mm a", enUS(), nullptr);
  return formatter;
}

DateFormatter& isoFormatter() {
  // The root locale keeps digits and era rules plain; the zone is UTC.
  static DateFormatter formatter("yyyy-MM-dd'T'HH:mm:ssXXX", icu::Locale::getRoot(),
                                 icu::TimeZone::createTimeZone("UTC"));
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
  return dayFormatter().format(time, zone).value_or(std::string());
}

std::string taken(TimePoint time, std::string_view zone) {
  return takenFormatter().format(time, zone).value_or(std::string());
}

std::string iso8601(TimePoint time) {
  return isoFormatter().format(time, {}).value_or(std::string());
}

std::optional<TimePoint> parseIso8601(std::string_view text) {
  return isoFormatter().parse(text);
}

}  // namespace lumenvale::Format
