#include "platform/win32/win32_window_system.h"

#include <vector>

#include "platform/win32/ansi_text.h"

namespace pellory {
namespace {

HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle FromHwnd(HWND window) { return reinterpret_cast<WindowHandle>(window); }

}  // namespace

WindowHandle Win32WindowSystem::ForegroundWindow() { return FromHwnd(::GetForegroundWindow()); }

WindowHandle Win32WindowSystem::GetWindow(WindowHandle window, WindowRelation relation) {
  return FromHwnd(::GetWindow(ToHwnd(window), static_cast<UINT>(relation)));
}

Text Win32WindowSystem::WindowText(WindowHandle window, int max_bytes) {
  // Window 0 would stand for the desktop; it is no window here.
  if (max_bytes <= 0 || window == 0) return Text();
  std::vector<char> buffer(static_cast<size_t>(max_bytes), '\0');
  int n = ::GetWindowTextA(ToHwnd(window), buffer.data(), max_bytes);
  if (n <= 0) return Text();
  if (n >= max_bytes) n = max_bytes - 1;
  std::string_view text(buffer.data(), static_cast<size_t>(n));
  return FromAnsi(text.substr(0, text.find('\0')));
}

WindowHandle Win32WindowSystem::FindWindow(const Text* class_name, const Text* title) {
  std::string cls = class_name ? ToAnsi(*class_name) : std::string();
  std::string caption = title ? ToAnsi(*title) : std::string();
  return FromHwnd(
      ::FindWindowA(class_name ? cls.c_str() : nullptr, title ? caption.c_str() : nullptr));
}

intptr_t Win32WindowSystem::SendMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                                        intptr_t lparam) {
  return ::SendMessageA(ToHwnd(window), message, wparam, lparam);
}

bool Win32WindowSystem::PostMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                                    intptr_t lparam) {
  return ::PostMessageA(ToHwnd(window), message, wparam, lparam) != 0;
}

bool Win32WindowSystem::SetForegroundWindow(WindowHandle window) {
  return ::SetForegroundWindow(ToHwnd(window)) != 0;
}

void Win32WindowSystem::SetTopmost(WindowHandle window, bool topmost) {
  ::SetWindowPos(ToHwnd(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace pellory
