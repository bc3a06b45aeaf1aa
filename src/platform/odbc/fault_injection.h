// Failure injection for the failure tests. The adapter makes every ODBC call
// whose failure it reports through Checked(); once a test arms the
// countdown, the nth such call returns SQL_ERROR without reaching the driver,
// and the diagnostics the adapter then reads are the injected ones, as if
// the driver had lost its server. Unarmed, a call costs one atomic read.
//
// The countdown is process-wide: tests that arm it run their scenario on
// one thread.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>

#include <string>

namespace pellory::odbc {

class FaultInjection {
 public:
  // The nth checked call from now (1 = the next one) fails with `state`
  // ("08S01", "HY000", ...).
  static void Arm(int nth, const std::string& state);
  static void Disarm();
  // Whether the armed failure was injected, and the checked calls made
  // since Arm.
  static bool Fired();
  static int Calls();

  // For Checked(): whether this call is the one to fail.
  static bool FailThisCall();
  // For the diagnostics reader: the injected "STATE: message" once, right
  // after the injected failure.
  static bool TakeDiagnostic(std::u16string* text, std::u16string* state);
};

template <typename Call, typename... Args>
SQLRETURN Checked(Call call, Args... args) {
  if (FaultInjection::FailThisCall()) return SQL_ERROR;
  return call(args...);
}

}  // namespace pellory::odbc
