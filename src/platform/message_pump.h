#pragma once

namespace pellory {

// Lets the calling thread's message loop run once: pending window messages
// and host events are handled before the call returns. The host may call
// back into a Session from inside it.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  virtual void DoEvents() = 0;
};

}  // namespace pellory
