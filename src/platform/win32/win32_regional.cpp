#include "platform/win32/win32_regional.h"

#include <windows.h>

#include "platform/win32/ansi_text.h"

namespace pellory {
namespace {

Text LocaleText(LCTYPE type) {
  wchar_t buf[128];
  int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buf, 128);
  if (n <= 1) return Text();
  return FromWide(buf, static_cast<size_t>(n - 1));
}

bool ValidDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  if (day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return !(month == 2 && day == 29 && !leap);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c >= 0xC0;
}

// Matches one text against one picture; fields found are filled in.
class Matcher {
 public:
  Matcher(const LocalePatterns& words, TextView text) : words_(words), text_(text) {}

  int year = -1, month = -1, day = -1, hour = -1, minute = 0, second = 0;
  bool twelve_hour = false;
  int half = 0;  // 1 am, 2 pm

  bool Match(TextView pattern) {
    size_t p = 0;
    while (p < pattern.size()) {
      const char16_t c = pattern[p];
      if (c == u'\'') {
        // Quoted literal; '' inside stands for one quote.
        ++p;
        while (p < pattern.size()) {
          if (pattern[p] == u'\'') {
            if (p + 1 < pattern.size() && pattern[p + 1] == u'\'') {
              if (!Literal(u'\'')) return false;
              p += 2;
              continue;
            }
            ++p;
            break;
          }
          if (!Literal(pattern[p++])) return false;
        }
        continue;
      }
      size_t run = 1;
      while (p + run < pattern.size() && pattern[p + run] == c) ++run;
      if (!Field(c, run)) return false;
      p += run;
    }
    SkipBlanks();
    return pos_ == text_.size();
  }

 private:
  bool Field(char16_t c, size_t run) {
    switch (c) {
      case u'd':
        if (run >= 3) return SkipWord();
        return Number(2, &day);
      case u'M':
        if (run >= 3) return MonthName();
        return Number(2, &month);
      case u'y': {
        const size_t start = pos_;
        if (!Number(run >= 3 ? 4 : 2, &year)) return false;
        // A two-digit year (as written, not as picture) takes the century
        // of the 1930-2029 window.
        if (pos_ - start <= 2) year += year < 30 ? 2000 : 1900;
        return true;
      }
      case u'g':
        return SkipWord();
      case u'h':
        twelve_hour = true;
        return Number(2, &hour);
      case u'H':
        return Number(2, &hour);
      case u'm':
        return Number(2, &minute);
      case u's':
        return Number(2, &second);
      case u't':
        return Designator(run);
      default:
        if (IsBlank(c)) {
          SkipBlanks();
          return true;
        }
        for (size_t i = 0; i < run; ++i) {
          if (!Literal(c)) return false;
        }
        return true;
    }
  }

  bool Literal(char16_t c) {
    if (IsBlank(c)) {
      SkipBlanks();
      return true;
    }
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }

  bool Number(int max_digits, int* out) {
    int value = 0;
    int digits = 0;
    while (digits < max_digits && pos_ < text_.size() && IsDigit(text_[pos_])) {
      value = value * 10 + (text_[pos_++] - u'0');
      ++digits;
    }
    if (digits == 0) return false;
    *out = value;
    return true;
  }

  bool SkipWord() {
    const size_t start = pos_;
    while (pos_ < text_.size() && (IsLetter(text_[pos_]) || text_[pos_] == u'.')) ++pos_;
    return pos_ > start;
  }

  // The longest month name or abbreviation found at the current place.
  bool MonthName() {
    size_t best = 0;
    for (int m = 0; m < 12; ++m) {
      for (const Text* name : {&words_.month_names[m], &words_.month_abbreviations[m]}) {
        if (name->empty() || name->size() <= best || pos_ + name->size() > text_.size()) continue;
        if (EqualsNoCase(text_.substr(pos_, name->size()), *name)) {
          best = name->size();
          month = m + 1;
        }
      }
    }
    pos_ += best;
    return best > 0;
  }

  bool Designator(size_t run) {
    const Text* names[] = {&words_.am, &words_.pm};
    for (int i = 0; i < 2; ++i) {
      const Text& name = *names[i];
      if (name.empty()) continue;
      const size_t n = run == 1 ? 1 : name.size();
      if (pos_ + n <= text_.size() &&
          EqualsNoCase(text_.substr(pos_, n), TextView(name).substr(0, n))) {
        pos_ += n;
        half = i + 1;
        return true;
      }
    }
    // A locale without designators writes nothing for them.
    return words_.am.empty() && words_.pm.empty();
  }

  const LocalePatterns& words_;
  TextView text_;
  size_t pos_ = 0;
};

std::optional<DateTime> TryPattern(const LocalePatterns& words, TextView text, TextView pattern,
                                   bool has_date, bool has_time) {
  Matcher m(words, text);
  if (!m.Match(pattern)) return std::nullopt;
  int hour = m.hour < 0 ? 0 : m.hour;
  if (has_time) {
    if (m.hour < 0) return std::nullopt;
    if (m.twelve_hour || m.half != 0) {
      if (hour > 12 && m.half != 0) return std::nullopt;
      if (m.half == 1 && hour == 12) hour = 0;
      if (m.half == 2 && hour < 12) hour += 12;
    }
    if (hour > 23 || m.minute > 59 || m.second > 59) return std::nullopt;
  }
  if (!has_date) return MakeDateTime(1899, 12, 30, hour, m.minute, m.second);
  if (!ValidDate(m.year, m.month, m.day)) return std::nullopt;
  return MakeDateTime(m.year, m.month, m.day, has_time ? hour : 0, has_time ? m.minute : 0,
                      has_time ? m.second : 0);
}

SYSTEMTIME MakeSystemTime(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  return st;
}

}  // namespace

std::optional<DateTime> ParseWithPatterns(const LocalePatterns& patterns, TextView input) {
  const Text text = Trim(input);
  if (text.empty()) return std::nullopt;
  struct Try {
    Text pattern;
    bool has_date;
    bool has_time;
  };
  const Try tries[] = {
      {patterns.short_date + u" " + patterns.long_time, true, true},
      {patterns.short_date, true, false},
      {patterns.long_time, false, true},
      {u"yyyy-MM-dd HH:mm:ss", true, true},
      {u"yyyy-MM-dd", true, false},
  };
  for (const Try& t : tries) {
    if (t.pattern.empty()) continue;
    if (auto value = TryPattern(patterns, text, t.pattern, t.has_date, t.has_time)) return value;
  }
  return std::nullopt;
}

Text FullYearPattern(TextView short_date) {
  Text out;
  bool quoted = false;
  for (size_t i = 0; i < short_date.size();) {
    const char16_t c = short_date[i];
    if (c == u'\'') quoted = !quoted;
    if (quoted || c != u'y') {
      out += c;
      ++i;
      continue;
    }
    size_t run = 0;
    while (i + run < short_date.size() && short_date[i + run] == u'y') ++run;
    out += run <= 2 ? TextView(u"yyyy") : short_date.substr(i, run);
    i += run;
  }
  return out;
}

char16_t Win32Regional::DecimalSeparator() const {
  Text sep = LocaleText(LOCALE_SDECIMAL);
  return sep.empty() ? u'.' : sep[0];
}

Text Win32Regional::ShortDate(int year, int month, int day) const {
  SYSTEMTIME st = MakeSystemTime(year, month, day, 0, 0, 0);
  const Text pattern = FullYearPattern(LocaleText(LOCALE_SSHORTDATE));
  const wchar_t* format = pattern.empty() ? nullptr : WidePtr(pattern);
  wchar_t buf[128];
  int n = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, format ? 0 : DATE_SHORTDATE, &st, format, buf,
                          128, nullptr);
  if (n <= 1) return Text();
  return FromWide(buf, static_cast<size_t>(n - 1));
}

Text Win32Regional::LongTime(int hour, int minute, int second) const {
  SYSTEMTIME st = MakeSystemTime(2000, 1, 1, hour, minute, second);
  wchar_t buf[128];
  int n = GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, buf, 128);
  if (n <= 1) return Text();
  return FromWide(buf, static_cast<size_t>(n - 1));
}

Text Win32Regional::Territory() const {
  wchar_t name[LOCALE_NAME_MAX_LENGTH];
  const int n = GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  if (n <= 1) return Text();
  return LocaleTerritory(FromWide(name, static_cast<size_t>(n - 1)));
}

LocalePatterns Win32Regional::Patterns() const {
  LocalePatterns p;
  p.short_date = FullYearPattern(LocaleText(LOCALE_SSHORTDATE));
  p.long_time = LocaleText(LOCALE_STIMEFORMAT);
  p.am = LocaleText(LOCALE_S1159);
  p.pm = LocaleText(LOCALE_S2359);
  for (int m = 0; m < 12; ++m) {
    p.month_names[m] = LocaleText(LOCALE_SMONTHNAME1 + m);
    p.month_abbreviations[m] = LocaleText(LOCALE_SABBREVMONTHNAME1 + m);
  }
  return p;
}

std::optional<DateTime> Win32Regional::ParseDateTime(TextView text) const {
  return ParseWithPatterns(Patterns(), text);
}

}  // namespace pellory
