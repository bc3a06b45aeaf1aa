// Plays the plug-in's part at the window level against the stand-in CRM:
// brings its windows to the front, types keys into the main window, sends and
// posts commands, the activation message and close requests, the way
// FindWindowA/SendMessageA/PostMessageA and keystroke synthesis reach it.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "crm_poke: %s failed (error %lu)\n", what, GetLastError());
    ++failures;
  }
}

INPUT Key(WORD vk, bool up) {
  INPUT in = {};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}

INPUT Unicode(wchar_t ch, bool up) {
  INPUT in = {};
  in.type = INPUT_KEYBOARD;
  in.ki.wScan = ch;
  in.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
  return in;
}

void Send(std::vector<INPUT> inputs) {
  UINT n = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  Check(n == inputs.size(), "SendInput");
}

// Lets the stand-in take what was queued before the next step.
void Settle() { Sleep(300); }

}  // namespace

int main() {
  HWND main = nullptr;
  for (int i = 0; i < 50 && !main; ++i) {
    main = FindWindowA("MaximizerMainFrame", nullptr);
    if (!main) Sleep(100);
  }
  Check(main != nullptr, "finding the main window");
  if (!main) return 1;
  char title[1002] = {};
  GetWindowTextA(main, title, 1000);
  std::printf("title: %s\n", title);
  HWND modal = FindWindowA("pvModalView32", nullptr);
  Check(modal != nullptr, "finding the modal view");

  Check(SetForegroundWindow(modal), "SetForegroundWindow(modal view)");
  Settle();
  Check(SetForegroundWindow(main), "SetForegroundWindow(main window)");
  Settle();
  Check(GetForegroundWindow() == main, "the main window in the foreground");

  // "%1", a number with characters of their own, "%/", then Enter.
  Send({Key(VK_MENU, false), Key('1', false), Key('1', true), Key(VK_MENU, true)});
  std::vector<INPUT> number;
  for (wchar_t ch : std::wstring(L"+44 (0)1234 567890")) {
    number.push_back(Unicode(ch, false));
    number.push_back(Unicode(ch, true));
  }
  Send(number);
  Send({Key(VK_MENU, false), Key(VK_OEM_2, false), Key(VK_OEM_2, true), Key(VK_MENU, true)});
  Send({Key(VK_RETURN, false), Key(VK_RETURN, true)});
  Settle();

  SendMessageA(modal, WM_CLOSE, 0, 0);
  Check(!IsWindow(modal), "closing the modal view");
  SendMessageA(main, WM_COMMAND, 10238, 0);
  Check(PostMessageA(main, WM_COMMAND, 10024, 0), "PostMessageA");
  Settle();
  SendMessageA(main, WM_ACTIVATE, 1, 0);
  Check(PostMessageA(main, WM_CLOSE, 0, 0), "PostMessageA(WM_CLOSE)");
  return failures == 0 ? 0 : 1;
}
