#pragma once

#include "platform/variant.h"

namespace pellory {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since local midnight, with fractions (the search timer).
  virtual double SecondsSinceMidnight() = 0;
  // The local date and time now.
  virtual DateTime Now() = 0;
  // Seconds from a fixed point in the past that only ever go forward, not
  // moved by clock changes or midnight (deadlines).
  virtual double MonotonicSeconds() = 0;
};

}  // namespace pellory
