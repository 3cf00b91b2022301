// One ICU date pattern, made once and used from any thread: the listing's
// wire dates and the screens' dates are both written by it. The calendar is
// Gregorian for every year; ICU's own turns Julian before October 1582.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "util/mutex.h"

namespace lumenvale {

class DateFormatter {
 public:
  // `pattern` is ICU's ("MMM d, yyyy"), `locale` an ICU locale id
  // ("en_US"), and `zone` the IANA id used when a call names none: empty
  // means the machine's zone.
  DateFormatter(std::string_view pattern, const char* locale, std::string_view zone = {});
  ~DateFormatter();
  DateFormatter(const DateFormatter&) = delete;
  DateFormatter& operator=(const DateFormatter&) = delete;

  // format returns the time `millis` after 1970-01-01 UTC as text in `zone`
  // (empty: the formatter's own); nothing when ICU could not make the
  // pattern. Callers that format many times in one zone pay for the zone
  // once: it is only replaced when it changes.
  std::optional<std::string> format(double millis, std::string_view zone = {});

  // parse reads a whole text of the pattern back, strictly, as milliseconds
  // after 1970-01-01 UTC; nothing when the text is not one.
  std::optional<double> parse(std::string_view text);

 private:
  struct Icu;
  // Adopts `zone` (empty: the formatter's own) unless it is the one in use.
  void useZone(std::string_view zone) REQUIRES(mutex_);

  const std::string zone_;
  Mutex mutex_;
  // Made once by the constructor, null when ICU could not; its calendar
  // changes on every format, hence the mutex.
  const std::unique_ptr<Icu> icu_ PT_GUARDED_BY(mutex_);
  std::string zoneInUse_ GUARDED_BY(mutex_);
  bool zoneSet_ GUARDED_BY(mutex_) = false;
};

}  // namespace lumenvale
