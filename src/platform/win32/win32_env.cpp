#include "platform/win32/win32_env.h"

#include <windows.h>

#include <cstdio>

#include "platform/failure.h"

namespace pellory {
namespace {

class NoTraceFile : public TraceFile {
 public:
  void AppendLine(TextView) noexcept override {}
};

class SystemClock : public Clock {
 public:
  double SecondsSinceMidnight() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
  }
  DateTime Now() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return MakeDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  }
  double MonotonicSeconds() override { return GetTickCount64() / 1000.0; }
};

// Fixed formats: yyyy-mm-dd and hh:mm:ss with a point as decimal separator;
// no territory.
class IsoRegional : public Regional {
 public:
  char16_t DecimalSeparator() const override { return u'.'; }
  Text ShortDate(int year, int month, int day) const override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return FromUtf8(buf);
  }
  Text LongTime(int hour, int minute, int second) const override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
    return FromUtf8(buf);
  }
  std::optional<DateTime> ParseDateTime(TextView text) const override {
    std::string s = ToUtf8(Trim(text));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    char tail = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) ==
            6 ||
        std::sscanf(s.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail) == 3) {
      if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return std::nullopt;
      return MakeDateTime(y, mo, d, h, mi, se);
    }
    if (std::sscanf(s.c_str(), "%2d:%2d:%2d%c", &h, &mi, &se, &tail) == 3) {
      if (h > 23 || mi > 59 || se > 59) return std::nullopt;
      return MakeDateTime(1899, 12, 30, h, mi, se);
    }
    return std::nullopt;
  }
  Text Territory() const override { return Text(); }
};

class NoMessageLoop : public MessagePump {
 public:
  void DoEvents() override {}
};

}  // namespace

Win32Env::Win32Env()
    : AdapterEnv(std::make_unique<NoTraceFile>(), std::make_unique<SystemClock>(),
                 std::make_unique<IsoRegional>(), std::make_unique<NoMessageLoop>()) {}

Win32Env::~Win32Env() = default;

}  // namespace pellory
