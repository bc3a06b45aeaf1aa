#pragma once

#include "platform/text.h"

namespace pellory {

// Keystroke synthesis in the platform's key notation: "%x" is x with Alt,
// "^x" with Ctrl, "+x" with Shift, "~" Enter, "(...)" groups, "{X}" names a
// key or escapes one of the special characters.
class Keystrokes {
 public:
  virtual ~Keystrokes() = default;
  // Queues the keys for whichever window is active; `wait` false returns at once.
  virtual void SendKeys(TextView keys, bool wait) = 0;
};

}  // namespace pellory
