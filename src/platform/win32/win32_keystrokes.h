// Keystroke synthesis through SendInput: the key notation read into key
// presses, each delivered with its modifiers held around it.
#pragma once

#include "platform/keystrokes.h"

namespace pellory {

class Win32Keystrokes : public Keystrokes {
 public:
  // Keys reach the window with the keyboard focus. Characters typed without
  // Ctrl or Alt go as Unicode input, so any character arrives as itself;
  // keys with modifiers go as the virtual key of the keyboard layout. A
  // sequence that does not read sends nothing ("Invalid procedure call or
  // argument", 5). With `wait` the call returns once the input has been
  // handled: the calling thread's own windows by pumping its queue, another
  // program's by waiting until it is idle.
  void SendKeys(TextView keys, bool wait) override;
};

}  // namespace pellory
