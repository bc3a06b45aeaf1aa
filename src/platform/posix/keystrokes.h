// Keystroke synthesis on the simulated desktop: the key notation is parsed
// into key presses, which are queued for the foreground window.
#pragma once

#include <vector>

#include "platform/keystrokes.h"
#include "platform/posix/desktop.h"

namespace pellory {

// Reads a key sequence in the key notation:
//   "+", "^", "%"  Shift, Ctrl, Alt held for the next key or "(...)" group
//   "~"            Enter
//   "(...)"        a group (not nested) taking the modifiers before it
//   "{X}"          a named key ({ENTER}, {F4}, {PGDN}, ...) or the
//                  character X itself, the way to type + ^ % ~ ( ) { } [ ]
//   "{X n}"        X pressed n times
// "[" and "]" have no meaning of their own and are typed as they stand.
// Throws Failure ("Invalid procedure call or argument", 5) for a sequence
// that does not read: an unknown key name, an unclosed brace or group, a
// stray ")" or "}", or modifiers with no key after them.
std::vector<KeyStroke> ParseKeys(TextView keys);

// Types into the desktop's foreground window. Without `wait` the keys are
// queued and arrive when the message pump next runs, so they reach
// whichever window is in the foreground then; with `wait` the queue is
// drained before SendKeys returns. A sequence that does not read queues
// nothing.
class DesktopKeystrokes : public Keystrokes {
 public:
  explicit DesktopKeystrokes(Desktop& desktop) : desktop_(desktop) {}
  void SendKeys(TextView keys, bool wait) override;

 private:
  Desktop& desktop_;
};

}  // namespace pellory
