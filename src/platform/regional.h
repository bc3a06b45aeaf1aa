// The user's regional formats: decimal separator, short date, long time;
// and the territory of the user's locale.
#pragma once

#include <optional>

#include "platform/text.h"
#include "platform/variant.h"

namespace pellory {

class Regional {
 public:
  virtual ~Regional() = default;
  virtual char16_t DecimalSeparator() const = 0;
  // Calendar date in the short date format, e.g. 06/12/2026.
  virtual Text ShortDate(int year, int month, int day) const = 0;
  // Time of day in the long time format, e.g. 11:43:57.
  virtual Text LongTime(int hour, int minute, int second) const = 0;
  // Reads a date, a time, or both, as the regional rules write them.
  virtual std::optional<DateTime> ParseDateTime(TextView text) const = 0;
  // The territory of the user's locale as an ISO 3166-1 alpha-2 code
  // ("GB"); empty when the locale names none.
  virtual Text Territory() const = 0;
};

// The territory of a locale name, POSIX ("en_GB.UTF-8", "sr_RS@latin") or
// BCP 47 ("en-GB", "zh-Hans-CN"): its first two-letter subtag after the
// language, in upper case. Empty for "C", "POSIX", a language alone or a
// region that is no country code ("es-419").
Text LocaleTerritory(TextView locale_name);

// "short date, a blank, long time"; the date is left out for a pure time and
// the time for a date at midnight.
Text FormatDateTime(const Regional& regional, DateTime value);

// Calendar helpers for the automation date.
DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second);
void SplitDateTime(DateTime value, int* year, int* month, int* day, int* hour, int* minute,
                   int* second);

}  // namespace pellory
