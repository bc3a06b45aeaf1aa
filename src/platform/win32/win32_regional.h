// The user's regional formats on Windows: decimal separator, short date and
// long time of the user's default locale, read afresh on every call so that
// a change in the control panel takes effect at once.
#pragma once

#include <array>

#include "platform/regional.h"

namespace pellory {

// The picture formats of a locale as the system writes them ("M/d/yyyy",
// "dd.MM.yyyy", "h:mm:ss tt", "HH:mm:ss"), with the words they may contain.
struct LocalePatterns {
  Text short_date;
  Text long_time;
  Text am;
  Text pm;
  std::array<Text, 12> month_names;
  std::array<Text, 12> month_abbreviations;
};

// Reads a date, a time or both the way `patterns` write them: the short
// date, the long time, both joined by blanks, or the ISO forms
// "yyyy-MM-dd HH:mm:ss" and "yyyy-MM-dd". Numbers may drop their leading
// zeros, names compare without regard to case, and a two-digit year falls
// in 1930 to 2029. Out-of-range fields (31 April, 25 o'clock) read nothing.
std::optional<DateTime> ParseWithPatterns(const LocalePatterns& patterns, TextView text);

// The short date picture with the year widened to four digits, so that a
// date written into a record reads back as the same date.
Text FullYearPattern(TextView short_date);

class Win32Regional : public Regional {
 public:
  char16_t DecimalSeparator() const override;
  Text ShortDate(int year, int month, int day) const override;
  Text LongTime(int hour, int minute, int second) const override;
  std::optional<DateTime> ParseDateTime(TextView text) const override;
  // From the user's default locale name ("en-GB").
  Text Territory() const override;

  // The user's locale's pictures and words.
  LocalePatterns Patterns() const;
};

}  // namespace pellory
