#include "platform/regional.h"

#include <cmath>

namespace pellory {
namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yy + (*m <= 2));
}

// 1899-12-30, day zero of the automation date.
constexpr int64_t kEpochOffset = 25569;

}  // namespace

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
  double days = static_cast<double>(DaysFromCivil(year, month, day) + kEpochOffset);
  double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Dates before day zero keep the time as a positive fraction of a negative day.
  return DateTime{days >= 0 ? days + time : days - time};
}

void SplitDateTime(DateTime value, int* year, int* month, int* day, int* hour, int* minute,
                   int* second) {
  double whole = std::trunc(value.days);
  double frac = std::fabs(value.days - whole);
  int64_t secs = std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    whole += value.days >= 0 ? 1 : -1;
  }
  CivilFromDays(static_cast<int64_t>(whole) - kEpochOffset, year, month, day);
  *hour = static_cast<int>(secs / 3600);
  *minute = static_cast<int>(secs / 60 % 60);
  *second = static_cast<int>(secs % 60);
}

Text LocaleTerritory(TextView locale_name) {
  // "ll_CC.codeset@modifier": the codeset and modifier say nothing of it.
  const size_t end = locale_name.find_first_of(u".@");
  const TextView name = locale_name.substr(0, end);
  size_t start = name.find_first_of(u"_-");
  while (start != TextView::npos) {
    const size_t next = name.find_first_of(u"_-", start + 1);
    const TextView tag = name.substr(start + 1, next == TextView::npos ? next : next - start - 1);
    auto letter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    if (tag.size() == 2 && letter(tag[0]) && letter(tag[1])) return UpperCase(tag);
    start = next;
  }
  return Text();
}

Text FormatDateTime(const Regional& regional, DateTime value) {
  int y, mo, d, h, mi, s;
  SplitDateTime(value, &y, &mo, &d, &h, &mi, &s);
  const bool pure_time = std::trunc(value.days) == 0;
  const bool midnight = h == 0 && mi == 0 && s == 0;
  if (pure_time) return regional.LongTime(h, mi, s);
  Text out = regional.ShortDate(y, mo, d);
  if (!midnight) {
    out += u' ';
    out += regional.LongTime(h, mi, s);
  }
  return out;
}

}  // namespace pellory
