// The thread's hidden owner window: owns the dialogs the thread shows and
// receives the messages meant for the plug-in rather than for a window of
// its own. Created on first use, destroyed when the thread ends.
#pragma once

#include <windows.h>

namespace pellory {

// The calling thread's owner window; null only when it cannot be created.
HWND ThreadOwnerWindow();

}  // namespace pellory
