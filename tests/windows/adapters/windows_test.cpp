// Windows, messages, the message pump and the thread's owner window.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "platform/win32/ansi_text.h"
#include "platform/win32/owner_window.h"
#include "platform/win32/win32_message_pump.h"
#include "platform/win32/win32_window_system.h"

namespace pellory {
namespace {

std::vector<WPARAM> commands;
int reposts = 0;

constexpr UINT kRepost = WM_APP + 1;

LRESULT CALLBACK TestProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_COMMAND) {
    commands.push_back(wparam);
    return static_cast<LRESULT>(wparam * 2);
  }
  if (msg == kRepost) {
    // A handler that keeps the queue busy for ever.
    ++reposts;
    PostMessageW(hwnd, kRepost, 0, 0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

const Text kClass = u"PelloryAdapterTestWindow";
const Text kTitle = u"Pellory Testfenster \u00e9t\u00e9";

// One window for the whole suite: without a window manager, Wine takes a
// second or two to show or destroy each top-level window.
class Win32WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = TestProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = WidePtr(kClass);
    RegisterClassExW(&wc);
    window = CreateWindowExW(0, WidePtr(kClass), WidePtr(kTitle), WS_OVERLAPPEDWINDOW, 10, 10, 300,
                             200, nullptr, nullptr, wc.hInstance, nullptr);
    child = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, window, nullptr,
                            wc.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
  }
  static void TearDownTestSuite() {
    DestroyWindow(window);
    Win32MessagePump().DoEvents();
  }
  void SetUp() override {
    ASSERT_NE(window, nullptr);
    pump.DoEvents();
    commands.clear();
  }
  static WindowHandle handle() { return reinterpret_cast<WindowHandle>(window); }

  static HWND window;
  static HWND child;
  Win32WindowSystem windows;
  Win32MessagePump pump;
};

HWND Win32WindowTest::window = nullptr;
HWND Win32WindowTest::child = nullptr;

TEST_F(Win32WindowTest, FindsByClassAndTitleAndReadsTheTitleInTheAnsiCodePage) {
  const Text wrong = u"Pellory no such title";
  EXPECT_EQ(windows.FindWindow(&kClass, nullptr), handle());
  EXPECT_EQ(windows.FindWindow(&kClass, &kTitle), handle());
  EXPECT_EQ(windows.FindWindow(nullptr, &kTitle), handle());
  EXPECT_EQ(windows.FindWindow(&kClass, &wrong), 0u);
  EXPECT_EQ(windows.FindWindow(nullptr, &wrong), 0u);

  EXPECT_EQ(windows.WindowText(handle(), 256), kTitle);
  // At most max_bytes - 1 characters come back.
  EXPECT_EQ(windows.WindowText(handle(), 8), kTitle.substr(0, 7));
  EXPECT_EQ(windows.WindowText(handle(), 1), Text());
  EXPECT_EQ(windows.WindowText(handle(), 0), Text());
  EXPECT_EQ(windows.WindowText(0, 256), Text());
}

TEST_F(Win32WindowTest, WalksChildrenAndSiblings) {
  const WindowHandle first = windows.GetWindow(handle(), WindowRelation::kFirstChild);
  EXPECT_EQ(first, reinterpret_cast<WindowHandle>(child));
  EXPECT_EQ(windows.GetWindow(first, WindowRelation::kNextSibling), 0u);
  EXPECT_EQ(windows.GetWindow(first, WindowRelation::kFirstSibling), first);
  EXPECT_EQ(windows.GetWindow(first, WindowRelation::kFirstChild), 0u);
}

TEST_F(Win32WindowTest, SentMessagesArriveAtOncePostedOnesThroughThePump) {
  EXPECT_EQ(windows.SendMessage(handle(), kWmCommand, 21, 0), 42);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], 21u);

  EXPECT_TRUE(windows.PostMessage(handle(), kWmCommand, 7, 0));
  EXPECT_EQ(commands.size(), 1u) << "a posted message waits for the pump";
  pump.DoEvents();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1], 7u);

  EXPECT_FALSE(windows.PostMessage(0x7fff0, kWmCommand, 1, 0)) << "no such window";
}

TEST_F(Win32WindowTest, ThePumpEndsWithQuitOrABusyQueue) {
  PostQuitMessage(3);
  windows.PostMessage(handle(), kWmCommand, 9, 0);
  pump.DoEvents();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
      << "the quit message stays for the thread's own loop";
  EXPECT_EQ(msg.wParam, 3u);
  pump.DoEvents();

  reposts = 0;
  PostMessageW(window, kRepost, 0, 0);
  pump.DoEvents();
  EXPECT_GT(reposts, 0);
  EXPECT_LE(reposts, Win32MessagePump::kMaxMessages);
  // Leave no reposting message behind for the other tests.
  while (PeekMessageW(&msg, window, kRepost, kRepost, PM_REMOVE)) {
  }
}

TEST_F(Win32WindowTest, TopmostAndForeground) {
  windows.SetTopmost(handle(), true);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  windows.SetTopmost(handle(), false);
  EXPECT_FALSE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);

  EXPECT_TRUE(windows.SetForegroundWindow(handle()));
  pump.DoEvents();
  EXPECT_EQ(windows.ForegroundWindow(), handle());
}

TEST(OwnerWindowTest, OneHiddenWindowPerThreadGoneWithItsThread) {
  HWND mine = ThreadOwnerWindow();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(ThreadOwnerWindow(), mine);
  EXPECT_FALSE(IsWindowVisible(mine));
  EXPECT_EQ(GetWindowThreadProcessId(mine, nullptr), GetCurrentThreadId());

  HWND theirs = nullptr;
  std::thread other([&] {
    theirs = ThreadOwnerWindow();
    EXPECT_EQ(ThreadOwnerWindow(), theirs);
  });
  other.join();
  ASSERT_NE(theirs, nullptr);
  EXPECT_NE(theirs, mine);
  EXPECT_FALSE(IsWindow(theirs)) << "destroyed when its thread ended";
  EXPECT_TRUE(IsWindow(mine));
}

}  // namespace
}  // namespace pellory
