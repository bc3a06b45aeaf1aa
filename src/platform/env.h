// The platform object: every port through which the core reaches the system.
// Tests inject fakes; the POSIX and Win32 builds inject real adapters.
#pragma once

#include "platform/automation.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/dialog_host.h"
#include "platform/keystrokes.h"
#include "platform/message_pump.h"
#include "platform/regional.h"
#include "platform/registry.h"
#include "platform/trace_file.h"
#include "platform/window_system.h"

namespace pellory {

class Env {
 public:
  virtual ~Env() = default;
  virtual TraceFile& trace() = 0;
  virtual Clock& clock() = 0;
  virtual Regional& regional() = 0;
  virtual MessagePump& pump() = 0;
  virtual Registry& registry() = 0;
  virtual DatabaseEngines& databases() = 0;
  virtual Automation& automation() = 0;
  virtual WindowSystem& windows() = 0;
  virtual Keystrokes& keystrokes() = 0;
  virtual DialogHost& dialogs() = 0;
};

}  // namespace pellory
