// The platform object of the Windows build. Every port starts with a safe
// stand-in (no trace output, the system clock, fixed ISO date formats, no
// message loop, and the "not available" adapters of the other ports);
// WireWin32Adapters puts the real Win32 adapters in.
#pragma once

#include <memory>

#include "platform/adapter_env.h"

namespace pellory {

class Win32Env : public AdapterEnv {
 public:
  Win32Env();
  ~Win32Env() override;

  using AdapterEnv::set_pump;
};

// Puts the real Win32 adapters into `env` (one line per adapter).
void WireWin32Adapters(Win32Env& env);

}  // namespace pellory
