// Top-level windows and messages through the ANSI window calls: classes,
// titles and texts go through the system's ANSI code page.
#pragma once

// <windows.h> maps these names onto their A/W forms, which would rename the
// port's members in whichever file includes it; from here on they keep
// their own names. Call the system functions by their A or W names.
#include <windows.h>
#undef FindWindow
#undef GetWindow
#undef SendMessage
#undef PostMessage
#undef SetForegroundWindow

#include "platform/window_system.h"

namespace pellory {

// A WindowHandle is the HWND's value.

class Win32WindowSystem : public WindowSystem {
 public:
  WindowHandle ForegroundWindow() override;
  WindowHandle GetWindow(WindowHandle window, WindowRelation relation) override;
  Text WindowText(WindowHandle window, int max_bytes) override;
  WindowHandle FindWindow(const Text* class_name, const Text* title) override;
  intptr_t SendMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                       intptr_t lparam) override;
  bool PostMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                   intptr_t lparam) override;
  bool SetForegroundWindow(WindowHandle window) override;
  void SetTopmost(WindowHandle window, bool topmost) override;
};

}  // namespace pellory
