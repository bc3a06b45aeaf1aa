// Top-level windows and messages of the desktop the CRM application runs on.
#pragma once

#include <cstdint>

#include "platform/text.h"

#ifdef _WIN32
// <windows.h> renames these to their ANSI or wide forms; the port's members
// keep their own names wherever that header came first.
#undef FindWindow
#undef GetWindow
#undef SendMessage
#undef PostMessage
#undef SetForegroundWindow
#endif

namespace pellory {

using WindowHandle = std::uintptr_t;  // 0 is no window

enum class WindowRelation { kFirstSibling = 0, kNextSibling = 2, kFirstChild = 5 };

constexpr unsigned kWmClose = 16;
constexpr unsigned kWmActivate = 6;
constexpr unsigned kWmCommand = 273;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  virtual WindowHandle ForegroundWindow() = 0;
  virtual WindowHandle GetWindow(WindowHandle window, WindowRelation relation) = 0;
  // The window's title, asking for at most `max_bytes` bytes including the
  // terminating NUL (so at most max_bytes - 1 characters).
  virtual Text WindowText(WindowHandle window, int max_bytes) = 0;
  // First top-level window of that class (and title, when given); 0 when none.
  virtual WindowHandle FindWindow(const Text* class_name, const Text* title) = 0;
  virtual intptr_t SendMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                               intptr_t lparam) = 0;
  virtual bool PostMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                           intptr_t lparam) = 0;
  virtual bool SetForegroundWindow(WindowHandle window) = 0;
  // Z-order change without moving or sizing (the dialogs' bring-to-front).
  virtual void SetTopmost(WindowHandle window, bool topmost) = 0;
};

// A desktop without windows: every lookup finds none and every message goes
// nowhere. Used where the system has no window system of its own.
class EmptyDesktop : public WindowSystem {
 public:
  WindowHandle ForegroundWindow() override { return 0; }
  WindowHandle GetWindow(WindowHandle, WindowRelation) override { return 0; }
  Text WindowText(WindowHandle, int) override { return Text(); }
  WindowHandle FindWindow(const Text*, const Text*) override { return 0; }
  intptr_t SendMessage(WindowHandle, unsigned, uintptr_t, intptr_t) override { return 0; }
  bool PostMessage(WindowHandle, unsigned, uintptr_t, intptr_t) override { return false; }
  bool SetForegroundWindow(WindowHandle) override { return false; }
  void SetTopmost(WindowHandle, bool) override {}
};

}  // namespace pellory
