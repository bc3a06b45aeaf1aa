// Failures of the system calls, as the one exception type of the core.
#pragma once

#include <windows.h>

#include "platform/failure.h"

namespace pellory {

// The system's message for `code` (trailing line end removed), or
// "System error N" when it has none.
Text SystemErrorText(DWORD code);
[[noreturn]] void ThrowSystemError(DWORD code);

}  // namespace pellory
