#include "platform/win32/owner_window.h"

namespace pellory {
namespace {

constexpr wchar_t kClassName[] = L"PelloryOwnerWindow";

// The module this code is linked into (the plug-in DLL or a program).
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

bool RegisterOwnerClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  if (RegisterClassExW(&wc)) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// One per thread; its destructor runs on the thread as it ends.
class OwnerWindow {
 public:
  ~OwnerWindow() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
  }

  HWND Get() {
    if (window_ && IsWindow(window_)) return window_;
    HINSTANCE instance = ThisModule();
    if (!RegisterOwnerClass(instance)) return nullptr;
    // A hidden pop-up rather than a message-only window: message-only
    // windows cannot own dialogs. It stays off the task bar.
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, instance, nullptr);
    return window_;
  }

 private:
  HWND window_ = nullptr;
};

thread_local OwnerWindow tls_owner;

}  // namespace

HWND ThreadOwnerWindow() { return tls_owner.Get(); }

}  // namespace pellory
