// Plays the person in front of the screen while a script host calls
// Configure: every dialog box that appears is closed with its close box
// (WM_CLOSE), which the dialogs take as Cancel. Prints the caption of each
// dialog it closed and runs until it is ended.
#include <windows.h>

#include <cstdio>
#include <set>

namespace {

std::set<HWND> closed;

BOOL CALLBACK CloseDialog(HWND window, LPARAM) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (lstrcmpW(name, L"#32770") != 0 || !IsWindowVisible(window) || !IsWindowEnabled(window)) {
    return TRUE;
  }
  if (closed.insert(window).second) {
    char caption[256] = {};
    GetWindowTextA(window, caption, sizeof caption);
    std::printf("closed: %s\n", caption);
    std::fflush(stdout);
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

int main() {
  for (;;) {
    EnumWindows(CloseDialog, 0);
    Sleep(50);
  }
}
