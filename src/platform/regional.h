// The user's regional formats: decimal separator, short date, long time.
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
};

// "short date, a blank, long time"; the date is left out for a pure time and
// the time for a date at midnight.
Text FormatDateTime(const Regional& regional, DateTime value);

// Calendar helpers for the automation date.
DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second);
void SplitDateTime(DateTime value, int* year, int* month, int* day, int* hour, int* minute,
                   int* second);

}  // namespace pellory
