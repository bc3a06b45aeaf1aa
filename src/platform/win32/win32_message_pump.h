// The calling thread's message loop, run once: what DoEvents does.
#pragma once

#include "platform/message_pump.h"

namespace pellory {

class Win32MessagePump : public MessagePump {
 public:
  // Dispatches the thread's pending messages until the queue is empty. A
  // quit message is put back for the thread's own loop and ends the run;
  // so do kMaxMessages messages, should handlers keep posting new ones.
  void DoEvents() override;

  static constexpr int kMaxMessages = 10000;
};

}  // namespace pellory
