#include "platform/win32/win32_clock.h"

#include <windows.h>

#include "platform/regional.h"

namespace pellory {

double Win32Clock::SecondsSinceMidnight() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond + st.wMilliseconds / 1000.0;
}

DateTime Win32Clock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return MakeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

double Win32Clock::MonotonicSeconds() { return GetTickCount64() / 1000.0; }

}  // namespace pellory
