// Keystrokes typed into an edit control of a window of this thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "platform/failure.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/win32_keystrokes.h"
#include "platform/win32/win32_message_pump.h"

namespace pellory {
namespace {

struct KeyMessage {
  UINT message;
  WPARAM vk;
  bool ctrl;
  bool alt;
};

std::vector<KeyMessage> key_messages;
WNDPROC edit_proc = nullptr;

// Records the key-down messages the edit control receives.
LRESULT CALLBACK RecordingEditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) {
    key_messages.push_back({msg, wparam, GetKeyState(VK_CONTROL) < 0, (lparam & (1 << 29)) != 0});
  }
  return CallWindowProcW(edit_proc, hwnd, msg, wparam, lparam);
}

class Win32KeystrokesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    frame = CreateWindowExW(0, L"STATIC", L"Pellory keystrokes", WS_OVERLAPPEDWINDOW, 20, 20, 400,
                            200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    edit = CreateWindowExW(0, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOHSCROLL, 0,
                           0, 380, 150, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    edit_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingEditProc)));
    ShowWindow(frame, SW_SHOW);
  }
  static void TearDownTestSuite() {
    DestroyWindow(frame);
    Win32MessagePump().DoEvents();
  }
  void SetUp() override {
    ASSERT_NE(edit, nullptr);
    SetForegroundWindow(frame);
    SetFocus(edit);
    Win32MessagePump().DoEvents();
    SetWindowTextW(edit, L"");
    key_messages.clear();
  }

  static std::string Typed(TextView keys) {
    SetWindowTextW(edit, L"");
    Win32Keystrokes().SendKeys(keys, true);
    wchar_t buf[256] = {};
    int n = GetWindowTextW(edit, buf, 256);
    return ToUtf8(FromWide(buf, static_cast<size_t>(n)));
  }

  static HWND frame;
  static HWND edit;
};

HWND Win32KeystrokesTest::frame = nullptr;
HWND Win32KeystrokesTest::edit = nullptr;

TEST_F(Win32KeystrokesTest, TypesTextEscapedCharactersAndNamedKeys) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"Hello 123", "Hello 123"},
      {u"{+}{^}{%}{~}{(}{)}{{}{}}[]", "+^%~(){}[]"},
      {u"caf\u00e9 \u20ac", "caf\xC3\xA9 \xE2\x82\xAC"},
      {u"+a+(bc)d", "ABCd"},
      {u"{x 3}y", "xxxy"},
      {u"ab~c", "ab\r\nc"},
      {u"abc{LEFT}{LEFT}X", "aXbc"},
      {u"abcd{BS}{bksp}{HOME}{DEL}", "b"},
      {u"ab{ENTER}{TAB}", "ab\r\n\t"},
  };
  for (const auto& [keys, typed] : cases) EXPECT_EQ(Typed(keys), typed) << ToUtf8(keys);
}

TEST_F(Win32KeystrokesTest, AltAndCtrlCombinationsArriveAsKeyMessages) {
  Win32Keystrokes().SendKeys(u"%1^a%/", true);
  std::vector<KeyMessage> keys;
  for (const KeyMessage& k : key_messages) {
    if (k.vk != VK_CONTROL && k.vk != VK_MENU && k.vk != VK_SHIFT) keys.push_back(k);
  }
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].message, static_cast<UINT>(WM_SYSKEYDOWN));
  EXPECT_EQ(keys[0].vk, static_cast<WPARAM>('1'));
  EXPECT_TRUE(keys[0].alt);
  EXPECT_EQ(keys[1].message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(keys[1].vk, static_cast<WPARAM>('A'));
  EXPECT_TRUE(keys[1].ctrl);
  EXPECT_FALSE(keys[1].alt);
  EXPECT_EQ(keys[2].message, static_cast<UINT>(WM_SYSKEYDOWN));
  EXPECT_EQ(keys[2].vk, static_cast<WPARAM>(LOBYTE(VkKeyScanW(u'/'))));
  EXPECT_TRUE(keys[2].alt);
  // No modifier is left held down.
  EXPECT_GE(GetKeyState(VK_CONTROL), 0);
  EXPECT_GE(GetKeyState(VK_MENU), 0);
  EXPECT_GE(GetKeyState(VK_SHIFT), 0);
}

TEST_F(Win32KeystrokesTest, ASequenceThatDoesNotReadSendsNothing) {
  for (const char16_t* bad : {u"ab{NOPE}", u"ab{x", u"ab)", u"ab+", u"(ab", u"{F17}"}) {
    SetWindowTextW(edit, L"");
    try {
      Win32Keystrokes().SendKeys(bad, true);
      ADD_FAILURE() << ToUtf8(bad) << " was accepted";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), 5) << ToUtf8(bad);
    }
    Win32MessagePump().DoEvents();
    EXPECT_EQ(GetWindowTextLengthW(edit), 0) << ToUtf8(bad);
  }
}

TEST_F(Win32KeystrokesTest, WithoutWaitTheKeysArriveWhenThePumpRuns) {
  Win32Keystrokes().SendKeys(u"later", false);
  Sleep(50);
  EXPECT_EQ(GetWindowTextLengthW(edit), 0);
  for (int i = 0; i < 20 && GetWindowTextLengthW(edit) < 5; ++i) {
    Win32MessagePump().DoEvents();
    Sleep(5);
  }
  wchar_t buf[16] = {};
  GetWindowTextW(edit, buf, 16);
  EXPECT_EQ(ToUtf8(FromWide(buf, wcslen(buf))), "later");
}

}  // namespace
}  // namespace pellory
