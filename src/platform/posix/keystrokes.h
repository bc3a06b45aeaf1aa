// Keystroke synthesis on the simulated desktop: the key notation is parsed
// into key presses, which are queued for the foreground window.
#pragma once

#include "platform/key_notation.h"
#include "platform/keystrokes.h"
#include "platform/posix/desktop.h"

namespace pellory {

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
