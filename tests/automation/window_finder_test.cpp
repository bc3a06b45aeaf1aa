#include "automation/window_finder.h"

#include <gtest/gtest.h>

#include "crm_env.h"

namespace pellory::testing {
namespace {

class FindWindowTitleTest : public ::testing::Test {
 protected:
  // Top-level windows from front to back; the first is in the foreground.
  void Windows(std::initializer_list<const char*> titles) {
    for (const char* t : titles) handles.push_back(env.desktop.CreateWindow({u"C", T(t)}));
    env.desktop.SetForegroundWindow(handles.front());
  }
  WindowHandle Find(const char* title, WindowHandle start = 0) {
    return FindWindowTitle(env, T(title), start);
  }

  DesktopEnv env;
  std::vector<WindowHandle> handles;
};

TEST_F(FindWindowTitleTest, BeginsWithExactAndContains) {
  Windows({"Untitled - Notepad", "maximizer - [Address Book]", "MAXIMIZER", "Line #1", "Address"});
  EXPECT_EQ(Find("Maximizer"), handles[1]);
  EXPECT_EQ(Find("Maximizer#"), handles[2]);
  EXPECT_EQ(Find("*Address*"), handles[1]);
  EXPECT_EQ(Find("*book]"), handles[1]);
  EXPECT_EQ(Find("Address#"), handles[4]);
  // "#" means the end of the title only in the begins-with mode.
  EXPECT_EQ(Find("*#1*"), handles[3]);
  EXPECT_EQ(Find("Line #1#"), handles[3]);
  EXPECT_EQ(Find("Maximizer - [Address Book]x"), 0u);
  EXPECT_EQ(Find("Notepad"), 0u);
  // An empty pattern matches the first window examined.
  EXPECT_EQ(Find(""), handles[0]);
  EXPECT_EQ(Find("*"), handles[0]);
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(FindWindowTitleTest, NoForegroundWindowFindsNothing) {
  Windows({"Maximizer - [Address Book]"});
  env.desktop.ClearForeground();
  EXPECT_EQ(Find("Maximizer"), 0u);
  EXPECT_EQ(Find(""), 0u);
}

TEST_F(FindWindowTitleTest, HiddenWindowsAreCandidates) {
  Windows({"Untitled - Notepad", "Maximizer - [Hidden]", "Maximizer - [Shown]"});
  env.desktop.SetVisible(handles[1], false);
  EXPECT_EQ(Find("Maximizer"), handles[1]);
}

TEST_F(FindWindowTitleTest, TitlesAreComparedOnTheirFirst999Characters) {
  const std::string a999(999, 'a');
  Windows({"x", (a999 + "TAIL").c_str()});
  EXPECT_EQ(Find((a999 + "#").c_str()), handles[1]);
  EXPECT_EQ(Find("*TAIL*"), 0u);
  EXPECT_EQ(Find((a999 + "T").c_str()), 0u);
  EXPECT_EQ(Find(("*" + a999.substr(1) + "*").c_str()), handles[1]);
}

TEST_F(FindWindowTitleTest, TitleEndsAtItsFirstNul) {
  Windows({"x"});
  WindowHandle h = env.desktop.CreateWindow({u"C", Text(u"Maximizer\0Hidden part", 21)});
  EXPECT_EQ(Find("Maximizer#"), h);
  EXPECT_EQ(Find("*Hidden*"), 0u);
}

TEST_F(FindWindowTitleTest, StartWindowSearchesOnlyItsDirectChildren) {
  Windows({"Maximizer - [Top]"});
  WindowHandle parent = env.desktop.CreateWindow({u"P", u"Parent"});
  WindowHandle child = env.desktop.CreateWindow({u"C", u"Toolbar", true, parent});
  env.desktop.CreateWindow({u"C", u"Maximizer grandchild", true, child});
  WindowHandle list = env.desktop.CreateWindow({u"C", u"Maximizer list", true, parent});
  EXPECT_EQ(Find("Maximizer", parent), list);
  EXPECT_EQ(Find("Maximizer", child), env.desktop.GetWindow(child, WindowRelation::kFirstChild));
  EXPECT_EQ(Find("Parent", parent), 0u);
  EXPECT_EQ(Find("Maximizer", list), 0u);
}

TEST(RidStr, RemovesEveryOccurrence) {
  FakeEnv env;
  EXPECT_EQ(RidStr(env, u"A*B**C", u"*"), u"ABC");
  EXPECT_EQ(RidStr(env, u"ABC", u"*"), u"ABC");
  EXPECT_EQ(RidStr(env, u"aXYXYb", u"XY"), u"ab");
  EXPECT_EQ(RidStr(env, u"XXXY", u"XY"), u"XX");  // the removal joins "X" and "Y" again
  EXPECT_EQ(RidStr(env, u"***", u"*"), u"");
  // Nothing to remove, and no endless search for it.
  EXPECT_EQ(RidStr(env, u"abc", u""), u"abc");
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST(RidStr, PositionsBeyond16BitsStopTheRemoval) {
  DesktopEnv env;
  Text long_text(40000, u'a');
  long_text += u"*b*";
  EXPECT_EQ(RidStr(env, long_text, u"*"), long_text);
  EXPECT_EQ(env.TraceMessages(), std::vector<std::string>{"Overflow @ basGlobal.RidStr"});
}

TEST(Stuff, ReplacesARange) {
  DesktopEnv env;
  EXPECT_EQ(Stuff(env, u"abcdef", 3, 2, u"XY"), u"abXYef");
  EXPECT_EQ(Stuff(env, u"abc", 2, 10, u""), u"a");
  EXPECT_EQ(Stuff(env, u"abc", 1, 0, u">"), u">abc");
  EXPECT_EQ(Stuff(env, u"abc", 9, 1, u"!"), u"abc!");
  EXPECT_EQ(Stuff(env, u"abcdef", 4, -1, u"-"), u"abc-cdef");
  EXPECT_TRUE(env.trace_file.lines.empty());
  // Failures leave the result empty.
  EXPECT_EQ(Stuff(env, u"abc", 0, 1, u"x"), u"");
  EXPECT_EQ(Stuff(env, u"abc", 32767, 1, u"x"), u"");
  EXPECT_EQ(Stuff(env, u"abc", -32768, 1, u"x"), u"");
  EXPECT_EQ(Stuff(env, u"abc", 2, -5, u"x"), u"");
  EXPECT_EQ(env.TraceMessages(),
            (std::vector<std::string>{"Invalid procedure call or argument @ basGlobal.Stuff",
                                      "Overflow @ basGlobal.Stuff", "Overflow @ basGlobal.Stuff",
                                      "Invalid procedure call or argument @ basGlobal.Stuff"}));
}

}  // namespace
}  // namespace pellory::testing
