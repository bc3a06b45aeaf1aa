#include "platform/posix/keystrokes.h"

namespace pellory {

void DesktopKeystrokes::SendKeys(TextView keys, bool wait) {
  desktop_.QueueKeys(ParseKeys(keys));
  if (wait) desktop_.DispatchPending();
}

}  // namespace pellory
