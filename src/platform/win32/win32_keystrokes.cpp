#include "platform/win32/win32_keystrokes.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/key_notation.h"
#include "platform/win32/system_error.h"
#include "platform/win32/win32_message_pump.h"

namespace pellory {
namespace {

struct NamedVirtualKey {
  const char16_t* name;
  WORD vk;
  bool extended;
};

constexpr NamedVirtualKey kVirtualKeys[] = {
    {u"BACKSPACE", VK_BACK, false},    {u"BREAK", VK_CANCEL, true},
    {u"CAPSLOCK", VK_CAPITAL, false},  {u"DELETE", VK_DELETE, true},
    {u"DOWN", VK_DOWN, true},          {u"END", VK_END, true},
    {u"ENTER", VK_RETURN, false},      {u"ESC", VK_ESCAPE, false},
    {u"HELP", VK_HELP, false},         {u"HOME", VK_HOME, true},
    {u"INSERT", VK_INSERT, true},      {u"LEFT", VK_LEFT, true},
    {u"NUMLOCK", VK_NUMLOCK, true},    {u"PGDN", VK_NEXT, true},
    {u"PGUP", VK_PRIOR, true},         {u"PRTSC", VK_SNAPSHOT, true},
    {u"RIGHT", VK_RIGHT, true},        {u"SCROLLLOCK", VK_SCROLL, false},
    {u"TAB", VK_TAB, false},           {u"UP", VK_UP, true},
    {u"ADD", VK_ADD, false},           {u"SUBTRACT", VK_SUBTRACT, false},
    {u"MULTIPLY", VK_MULTIPLY, false}, {u"DIVIDE", VK_DIVIDE, true},
};

INPUT VirtualKey(WORD vk, bool up, bool extended) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
  return in;
}

INPUT UnicodeKey(char16_t c, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wScan = c;
  in.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
  return in;
}

// The inputs of one key press, modifiers pressed before and released after.
void AddKeyStroke(const KeyStroke& key, std::vector<INPUT>* out) {
  bool shift = key.shift;
  WORD vk = 0;
  bool extended = false;
  bool unicode = false;
  if (key.is_character()) {
    const char16_t c = key.key[0];
    const SHORT scan = (key.ctrl || key.alt || key.shift) ? VkKeyScanW(c) : -1;
    if (scan != -1) {
      vk = LOBYTE(scan);
      // A character that needs Shift on this layout ("%" for "^%") keeps it.
      if (HIBYTE(scan) & 1) shift = true;
    } else {
      unicode = true;
    }
  } else if (key.key.size() >= 2 && key.key[0] == u'F' && key.key[1] >= u'1' &&
             key.key[1] <= u'9') {
    vk = static_cast<WORD>(VK_F1 + std::stoi(std::string(key.key.begin() + 1, key.key.end())) - 1);
  } else {
    for (const NamedVirtualKey& named : kVirtualKeys) {
      if (key.key == named.name) {
        vk = named.vk;
        extended = named.extended;
      }
    }
  }
  if (!unicode && vk == 0) throw Failure(u"Invalid procedure call or argument", 5);

  if (key.ctrl) out->push_back(VirtualKey(VK_CONTROL, false, false));
  if (key.alt) out->push_back(VirtualKey(VK_MENU, false, false));
  if (shift) out->push_back(VirtualKey(VK_SHIFT, false, false));
  if (unicode) {
    out->push_back(UnicodeKey(key.key[0], false));
    out->push_back(UnicodeKey(key.key[0], true));
  } else {
    out->push_back(VirtualKey(vk, false, extended));
    out->push_back(VirtualKey(vk, true, extended));
  }
  if (shift) out->push_back(VirtualKey(VK_SHIFT, true, false));
  if (key.alt) out->push_back(VirtualKey(VK_MENU, true, false));
  if (key.ctrl) out->push_back(VirtualKey(VK_CONTROL, true, false));
}

// Pumps the calling thread's queue until no input or posted message is left.
void DrainOwnQueue() {
  Win32MessagePump pump;
  for (int round = 0; round < 100; ++round) {
    pump.DoEvents();
    const DWORD pending = HIWORD(GetQueueStatus(QS_ALLINPUT));
    if ((pending & (QS_KEY | QS_POSTMESSAGE | QS_SENDMESSAGE)) == 0) {
      // The system may still be moving input onto the queue.
      if (round > 0) return;
      Sleep(1);
    }
  }
}

void WaitUntilHandled() {
  HWND target = GetForegroundWindow();
  DWORD pid = 0;
  const DWORD thread = target ? GetWindowThreadProcessId(target, &pid) : 0;
  if (!target || thread == GetCurrentThreadId()) {
    DrainOwnQueue();
    return;
  }
  if (pid == GetCurrentProcessId()) {
    // Another thread of ours: it handles the input once its queue is empty.
    SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    return;
  }
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return;
  WaitForInputIdle(process, 5000);
  CloseHandle(process);
}

}  // namespace

void Win32Keystrokes::SendKeys(TextView keys, bool wait) {
  std::vector<INPUT> inputs;
  for (const KeyStroke& key : ParseKeys(keys)) AddKeyStroke(key, &inputs);
  // Sent in parts: a long "{X n}" must not need one huge block.
  constexpr size_t kChunk = 256;
  for (size_t from = 0; from < inputs.size(); from += kChunk) {
    const UINT n = static_cast<UINT>(std::min(kChunk, inputs.size() - from));
    if (SendInput(n, inputs.data() + from, sizeof(INPUT)) != n) ThrowSystemError(GetLastError());
  }
  if (wait) WaitUntilHandled();
}

}  // namespace pellory
