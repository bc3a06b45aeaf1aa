// The simulated desktop, its keystrokes and the object registry.
#include <gtest/gtest.h>

#include "crm_env.h"
#include "platform/failure.h"

namespace pellory::testing {
namespace {

std::vector<std::string> Describe(const std::vector<KeyStroke>& keys) {
  std::vector<std::string> out;
  for (const KeyStroke& k : keys) out.push_back(U8(k.Describe()));
  return out;
}

std::vector<std::string> Parse(const char* keys) { return Describe(ParseKeys(T(keys))); }

using Strings = std::vector<std::string>;

TEST(KeyNotation, ModifiersGroupsAndNamedKeys) {
  EXPECT_EQ(Parse("%1ab%/"), (Strings{"Alt+1", "a", "b", "Alt+/"}));
  EXPECT_EQ(Parse("+(ab)c"), (Strings{"Shift+a", "Shift+b", "c"}));
  EXPECT_EQ(Parse("^%{del}~"), (Strings{"Ctrl+Alt+Delete", "Enter"}));
  EXPECT_EQ(Parse("{F4 2}{TAB}{bs}"), (Strings{"F4", "F4", "Tab", "Backspace"}));
  EXPECT_EQ(Parse("{+}{^}{%}{~}{(}{)}{{}{}}{[}{]}"),
            (Strings{"+", "^", "%", "~", "(", ")", "{", "}", "[", "]"}));
  EXPECT_EQ(Parse("{x 3}{} 2}"), (Strings{"x", "x", "x", "}", "}"}));
  EXPECT_EQ(Parse("[a]"), (Strings{"[", "a", "]"}));
  EXPECT_EQ(Parse(""), Strings{});
  // A display number read as key notation is no longer what was dialled.
  EXPECT_EQ(Parse("+44 (0)1"), (Strings{"Shift+4", "4", " ", "0", "1"}));
}

TEST(KeyNotation, SequencesThatDoNotReadFail) {
  for (const char* bad : {"(", "(a", ")", "a)", "}", "{", "{a", "{}", "{NOPE}", "{F17}", "{F0}",
                          "+", "a%", "((a))", "(+)", "{a x}", "{a }", "{a 99999}"}) {
    try {
      ParseKeys(T(bad));
      ADD_FAILURE() << "accepted " << bad;
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), 5) << bad;
    }
  }
}

class DesktopTest : public ::testing::Test {
 protected:
  WindowHandle Window(const char* title, std::vector<std::string>* log, WindowHandle parent = 0) {
    WindowHandlers h;
    h.message = [log](WindowHandle, unsigned m, uintptr_t w, intptr_t, bool sent) {
      log->push_back((sent ? "sent " : "posted ") + std::to_string(m) + " " + std::to_string(w));
      return intptr_t{7};
    };
    h.key = [log](WindowHandle, const KeyStroke& k) { log->push_back("key " + U8(k.Describe())); };
    return desktop.CreateWindow({u"C", T(title), true, parent}, h);
  }

  Desktop desktop;
  std::vector<std::string> a_log, b_log;
};

TEST_F(DesktopTest, WindowRelationsFollowTheZOrder) {
  WindowHandle a = Window("A", &a_log);
  WindowHandle b = Window("B", &b_log);
  WindowHandle c1 = Window("c1", &a_log, a);
  WindowHandle c2 = Window("c2", &a_log, a);
  EXPECT_EQ(desktop.GetWindow(b, WindowRelation::kFirstSibling), a);
  EXPECT_EQ(desktop.GetWindow(a, WindowRelation::kNextSibling), b);
  EXPECT_EQ(desktop.GetWindow(b, WindowRelation::kNextSibling), 0u);
  EXPECT_EQ(desktop.GetWindow(a, WindowRelation::kFirstChild), c1);
  EXPECT_EQ(desktop.GetWindow(c2, WindowRelation::kFirstSibling), c1);
  EXPECT_EQ(desktop.GetWindow(0, WindowRelation::kFirstSibling), 0u);
  EXPECT_EQ(desktop.ForegroundWindow(), 0u);
  EXPECT_TRUE(desktop.SetForegroundWindow(c2));  // brings its top-level window forward
  EXPECT_EQ(desktop.ForegroundWindow(), a);
  EXPECT_TRUE(desktop.SetForegroundWindow(b));
  EXPECT_EQ(desktop.GetWindow(a, WindowRelation::kFirstSibling), b);
  EXPECT_FALSE(desktop.SetForegroundWindow(0));
  desktop.DestroyWindow(a);
  EXPECT_FALSE(desktop.IsWindow(c1));
  EXPECT_EQ(desktop.GetWindow(b, WindowRelation::kNextSibling), 0u);
}

TEST_F(DesktopTest, TitlesClassesAndFindWindow) {
  WindowHandle a = Window("Maximizer - [Address Book]", &a_log);
  WindowHandle m = desktop.CreateWindow({u"pvModalView32", u"Save?"});
  EXPECT_EQ(desktop.WindowText(a, 10), u"Maximizer");
  EXPECT_EQ(desktop.WindowText(a, 1), u"");
  EXPECT_EQ(desktop.WindowText(0, 100), u"");
  const Text cls = u"PVMODALVIEW32", title = u"save?", other = u"Other";
  EXPECT_EQ(desktop.FindWindow(&cls, nullptr), m);
  EXPECT_EQ(desktop.FindWindow(&cls, &title), m);
  EXPECT_EQ(desktop.FindWindow(&other, nullptr), 0u);
}

TEST_F(DesktopTest, SentMessagesArriveAtOncePostedOnesWhenPumped) {
  WindowHandle a = Window("A", &a_log);
  EXPECT_EQ(desktop.SendMessage(a, kWmCommand, 10238, 0), 7);
  EXPECT_TRUE(desktop.PostMessage(a, kWmCommand, 10024, 0));
  EXPECT_EQ(a_log, Strings{"sent 273 10238"});
  EXPECT_EQ(desktop.SendMessage(0, kWmCommand, 1, 0), 0);
  EXPECT_FALSE(desktop.PostMessage(0, kWmCommand, 1, 0));
  EXPECT_EQ(desktop.DispatchPending(), 1u);
  EXPECT_EQ(a_log, (Strings{"sent 273 10238", "posted 273 10024"}));
  // A window that goes away takes its queued messages with it.
  desktop.PostMessage(a, kWmClose, 0, 0);
  desktop.DestroyWindow(a);
  EXPECT_EQ(desktop.DispatchPending(), 0u);
}

TEST_F(DesktopTest, KeysReachTheForegroundWindowWhenPumpedAfterPostedMessages) {
  WindowHandle a = Window("A", &a_log);
  WindowHandle b = Window("B", &b_log);
  desktop.SetForegroundWindow(a);
  DesktopKeystrokes keys(desktop);
  keys.SendKeys(u"%1x", false);
  desktop.PostMessage(b, kWmCommand, 5, 0);
  EXPECT_TRUE(a_log.empty());
  desktop.SetForegroundWindow(b);  // the window in front when the keys are processed gets them
  desktop.DispatchPending();
  EXPECT_TRUE(a_log.empty());
  EXPECT_EQ(b_log, (Strings{"posted 273 5", "key Alt+1", "key x"}));
  // Waiting delivers before SendKeys returns; a sequence that does not read queues nothing.
  keys.SendKeys(u"y", true);
  EXPECT_EQ(b_log.back(), "key y");
  EXPECT_THROW(keys.SendKeys(u"z(", false), Failure);
  EXPECT_EQ(desktop.PendingCount(), 0u);
  // Keys with no foreground window are lost.
  desktop.ClearForeground();
  keys.SendKeys(u"q", true);
  EXPECT_EQ(b_log.back(), "key y");
}

class Echo : public DispatchObject {
 public:
  Echo() {
    AddMember(u"Twice", [](Args args) {
      CheckCount(args, 1, 2);
      return Variant(Required(args, 0).ToDouble() * 2);
    });
  }
};

TEST(ObjectRegistry, CreatesByIdentifierAndCallsByName) {
  ObjectRegistry registry;
  registry.Register(u"Test.Echo", [] { return std::make_shared<Echo>(); });
  auto echo = registry.CreateObject(u"TEST.ECHO");
  const Variant one[] = {Variant(int32_t{21})};
  EXPECT_EQ(echo->Invoke(u"twice", one), Variant(42.0));
  auto fails = [&](TextView member, std::span<const Variant> args) {
    try {
      echo->Invoke(member, args);
    } catch (const Failure& f) {
      return f.number();
    }
    return 0L;
  };
  const Variant omitted[] = {Variant::Missing()};
  const Variant three[] = {Variant(1.0), Variant(2.0), Variant(3.0)};
  EXPECT_EQ(fails(u"Thrice", one), 438);
  EXPECT_EQ(fails(u"Twice", omitted), 449);
  EXPECT_EQ(fails(u"Twice", three), 450);
  registry.Unregister(u"test.echo");
  try {
    registry.CreateObject(u"Test.Echo");
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_EQ(f.description(), u"ActiveX component can't create object");
  }
}

}  // namespace
}  // namespace pellory::testing
