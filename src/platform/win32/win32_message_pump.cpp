#include "platform/win32/win32_message_pump.h"

#include <windows.h>

namespace pellory {

void Win32MessagePump::DoEvents() {
  MSG msg;
  for (int n = 0; n < kMaxMessages && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace pellory
