#include "util/date_formatter.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <limits>

namespace lumenvale {

struct DateFormatter::Icu {
  icu::SimpleDateFormat format;
};

namespace {

icu::UnicodeString unicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

DateFormatter::DateFormatter(std::string_view pattern, const char* locale, std::string_view zone)
    : zone_(zone), icu_([&]() -> std::unique_ptr<Icu> {
        const icu::Locale where(locale);
        UErrorCode status = U_ZERO_ERROR;
        auto icu = std::unique_ptr<Icu>(new Icu{icu::SimpleDateFormat(unicode(pattern), where, status)});
        if (U_FAILURE(status)) return nullptr;
        auto calendar = std::make_unique<icu::GregorianCalendar>(where, status);
        if (U_SUCCESS(status)) calendar->setGregorianChange(-std::numeric_limits<double>::infinity(), status);
        if (U_FAILURE(status)) return nullptr;
        icu->format.adoptCalendar(calendar.release());
        icu->format.setLenient(false);
        return icu;
      }()) {}

DateFormatter::~DateFormatter() = default;

void DateFormatter::useZone(std::string_view zone) {
  if (zone.empty()) zone = zone_;
  if (zoneSet_ && zone == zoneInUse_) return;
  icu_->format.adoptTimeZone(zone.empty() ? icu::TimeZone::createDefault()
                                          : icu::TimeZone::createTimeZone(unicode(zone)));
  zoneInUse_ = std::string(zone);
  zoneSet_ = true;
}

std::optional<std::string> DateFormatter::format(double millis, std::string_view zone) {
  MutexLock hold(mutex_);
  if (!icu_) return std::nullopt;
  useZone(zone);
  icu::UnicodeString text;
  icu_->format.format(millis, text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

std::optional<double> DateFormatter::parse(std::string_view text) {
  const icu::UnicodeString input = unicode(text);
  MutexLock hold(mutex_);
  if (!icu_) return std::nullopt;
  useZone({});
  icu::ParsePosition position(0);
  const UDate date = icu_->format.parse(input, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  return date;
}

}  // namespace lumenvale
