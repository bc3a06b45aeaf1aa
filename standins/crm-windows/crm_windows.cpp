// The windows of the stand-in application. Their window procedures write
// every message sent or posted to them by others (commands, close and
// activation requests, the user range), activations and the keys typed.
#include <string>

#include "standins/crm-windows/standin_crm.h"

namespace pellory::standin {
namespace {

std::string Label(HWND window) {
  const CrmState& s = State();
  if (window == s.main_window) return "main window";
  if (window == s.modal_view) return "modal view";
  return "window " + std::to_string(reinterpret_cast<uintptr_t>(window));
}

// Names of keys that type no character, as the journal writes them.
const char* NamedKey(WPARAM vk) {
  switch (vk) {
    case VK_BACK:
      return "Backspace";
    case VK_TAB:
      return "Tab";
    case VK_RETURN:
      return "Enter";
    case VK_ESCAPE:
      return "Esc";
    case VK_PAUSE:
      return "Break";
    case VK_CAPITAL:
      return "Capslock";
    case VK_PRIOR:
      return "Pgup";
    case VK_NEXT:
      return "Pgdn";
    case VK_END:
      return "End";
    case VK_HOME:
      return "Home";
    case VK_LEFT:
      return "Left";
    case VK_UP:
      return "Up";
    case VK_RIGHT:
      return "Right";
    case VK_DOWN:
      return "Down";
    case VK_SNAPSHOT:
      return "Prtsc";
    case VK_INSERT:
      return "Insert";
    case VK_DELETE:
      return "Delete";
    case VK_HELP:
      return "Help";
    case VK_NUMLOCK:
      return "Numlock";
    case VK_SCROLL:
      return "Scrolllock";
    default:
      return nullptr;
  }
}

bool IsModifier(WPARAM vk) {
  switch (vk) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
      return true;
    default:
      return false;
  }
}

// A key pressed: keys that type a plain character wait for WM_CHAR; the rest
// (named keys, anything with Ctrl or Alt) are written as "keys Alt+1".
void KeyDown(HWND window, UINT message, WPARAM vk, LPARAM lparam) {
  if (IsModifier(vk)) return;
  const bool alt = (message == WM_SYSKEYDOWN && (lparam & (1 << 29))) || GetKeyState(VK_MENU) < 0;
  const bool ctrl = GetKeyState(VK_CONTROL) < 0;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  std::string name;
  if (vk >= VK_F1 && vk <= VK_F24) {
    name = "F" + std::to_string(vk - VK_F1 + 1);
  } else if (const char* named = NamedKey(vk)) {
    name = named;
  } else {
    UINT ch = MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_CHAR) & 0x7fff;
    if (!alt && !ctrl) return;  // WM_CHAR follows
    if (ch == 0) {
      name = "Key" + std::to_string(vk);
    } else {
      if (ch >= 'A' && ch <= 'Z' && !shift) ch = ch - 'A' + 'a';
      const char16_t c16 = static_cast<char16_t>(ch);
      name = ToUtf8(TextView(&c16, 1));
    }
  }
  std::string line = Label(window) + ": keys ";
  if (ctrl) line += "Ctrl+";
  if (alt) line += "Alt+";
  if (shift) line += "Shift+";
  State().Note(line + name);
}

void Char(HWND window, WPARAM ch) {
  if (ch < 0x20 || ch == 0x7f) return;  // Enter, Tab, Esc, Backspace, Ctrl+letter
  if (!State().recording) return;
  const char16_t c16 = static_cast<char16_t>(ch);
  State().journal.Typed(Label(window), ToUtf8(TextView(&c16, 1)));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  CrmState& s = State();
  // Messages from other programs are either sent (the sender waits) or
  // posted to this thread's queue.
  const bool sent = InSendMessage();
  switch (message) {
    case WM_COMMAND:
      s.Note(Label(window) + ": " + (sent ? "sent " : "posted ") +
             MessageName(message, wparam, lparam));
      return 0;
    case WM_CLOSE:
      s.Note(Label(window) + ": " + (sent ? "sent " : "posted ") +
             MessageName(message, wparam, lparam));
      DestroyWindow(window);
      return 0;
    case WM_ACTIVATE: {
      // The system's own activation messages: activation arrives once the
      // window has become the active one, deactivation while it still is.
      // Anything else is a message from outside.
      const bool now_active = GetActiveWindow() == window;
      if (LOWORD(wparam) != WA_INACTIVE && now_active && s.active != window) {
        s.active = window;
        s.Note(Label(window) + ": SetForegroundWindow");
      } else if (LOWORD(wparam) == WA_INACTIVE && s.active == window) {
        s.active = nullptr;
      } else {
        s.Note(Label(window) + ": " + (sent ? "sent " : "posted ") +
               MessageName(message, wparam, lparam));
        return 0;
      }
      break;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      KeyDown(window, message, wparam, lparam);
      return 0;
    case WM_CHAR:
      Char(window, wparam);
      return 0;
    case WM_SYSCHAR:
    case WM_SYSKEYUP:
    case WM_KEYUP:
      return 0;  // written at key down; no menu for Alt
    case WM_DESTROY:
      if (window == s.modal_view) s.modal_view = nullptr;
      if (window == s.main_window) {
        s.main_window = nullptr;
        PostQuitMessage(0);
      }
      return 0;
    default:
      if (message >= WM_USER && message < 0xC000) {
        s.Note(Label(window) + ": " + (sent ? "sent " : "posted ") +
               MessageName(message, wparam, lparam));
        return 0;
      }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

bool RegisterWindowClasses(HINSTANCE instance) {
  for (const wchar_t* name : {kMainWindowClass, kModalViewClass}) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc)) return false;
  }
  return true;
}

HWND CreateMainWindow(HINSTANCE instance, TextView address_book) {
  HWND w = CreateWindowExW(0, kMainWindowClass, L"Maximizer", WS_OVERLAPPEDWINDOW, 10, 10, 640, 480,
                           nullptr, nullptr, instance, nullptr);
  if (!w) return nullptr;
  State().main_window = w;
  State().SetAddressBook(address_book);
  return w;
}

HWND CreateModalView(HINSTANCE instance) {
  HWND w = CreateWindowExW(0, kModalViewClass, L"", WS_OVERLAPPED | WS_CAPTION, 60, 60, 320, 200,
                           nullptr, nullptr, instance, nullptr);
  State().modal_view = w;
  return w;
}

}  // namespace pellory::standin
