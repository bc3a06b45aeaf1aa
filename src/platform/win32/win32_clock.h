// The local clock of the Windows build.
#pragma once

#include "platform/clock.h"

namespace pellory {

class Win32Clock : public Clock {
 public:
  // Milliseconds resolution, from the local time.
  double SecondsSinceMidnight() override;
  DateTime Now() override;
  double MonotonicSeconds() override;
};

}  // namespace pellory
