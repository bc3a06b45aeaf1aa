// The simulated desktop, its keystrokes and the object registry.
#include <gtest/gtest.h>

#include "crm_env.h"
#include "platform/failure.h"

namespace pellory::testing {
namespace {

using Strings = std::vector<std::string>;

Strings Parse(const char* keys) {
  Strings out;
  for (const KeyStroke& k : ParseKeys(T(keys))) out.push_back(U8(k.Describe()));
  return out;
}

TEST(KeyNotation, ModifiersGroupsNamedKeysAndEscapes) {
  EXPECT_EQ(Parse("%1a+(bc)d"), (Strings{"Alt+1", "a", "Shift+b", "Shift+c", "d"}));
  EXPECT_EQ(Parse("^%{del}~{F4 2}{bs}"),
            (Strings{"Ctrl+Alt+Delete", "Enter", "F4", "F4", "Backspace"}));
  EXPECT_EQ(Parse("{+}{^}{%}{~}{(}{)}{{}{}}{[}{]}[{} 2}"),
            (Strings{"+", "^", "%", "~", "(", ")", "{", "}", "[", "]", "[", "}", "}"}));
  // A display number read as key notation is no longer what was dialled.
  EXPECT_EQ(Parse("+44 (0)1"), (Strings{"Shift+4", "4", " ", "0", "1"}));
  for (const char* bad : {"(", ")", "}", "{", "{a", "{}", "{NOPE}", "{F17}", "a%", "((a))", "(+)",
                          "{a x}", "{a 99999}"}) {
    EXPECT_THROW(ParseKeys(T(bad)), Failure) << bad;
  }
}

TEST(Desktop, ZOrderAndForeground) {
  Desktop d;
  WindowHandle a = d.CreateWindow({u"C", u"A"}), b = d.CreateWindow({u"C", u"B"});
  WindowHandle c1 = d.CreateWindow({u"C", u"c1", true, a}),
               c2 = d.CreateWindow({u"C", u"c2", true, a});
  EXPECT_EQ(d.GetWindow(b, WindowRelation::kFirstSibling), a);
  EXPECT_EQ(d.GetWindow(a, WindowRelation::kNextSibling), b);
  EXPECT_EQ(d.GetWindow(a, WindowRelation::kFirstChild), c1);
  EXPECT_EQ(d.GetWindow(c2, WindowRelation::kFirstSibling), c1);
  EXPECT_EQ(d.GetWindow(0, WindowRelation::kFirstSibling), 0u);
  EXPECT_EQ(d.WindowText(a, 1), u"");
  EXPECT_TRUE(d.SetForegroundWindow(c2));  // brings its top-level window forward
  EXPECT_EQ(d.ForegroundWindow(), a);
  d.SetForegroundWindow(b);
  EXPECT_EQ(d.GetWindow(a, WindowRelation::kFirstSibling), b);
  // Closing the foreground window hands the foreground to the frontmost visible one.
  WindowHandle hidden = d.CreateWindow({u"C", u"H", false});
  d.SetForegroundWindow(hidden);
  d.SetForegroundWindow(b);
  d.DestroyWindow(b);
  EXPECT_EQ(d.ForegroundWindow(), a);
  d.DestroyWindow(a);
  EXPECT_FALSE(d.IsWindow(c1));
  EXPECT_EQ(d.ForegroundWindow(), 0u);
}

TEST(Desktop, SentAtOncePostedAndTypedWhenPumped) {
  Desktop d;
  Strings log;
  WindowHandlers h;
  h.message = [&](WindowHandle w, unsigned m, uintptr_t p, intptr_t, bool sent) {
    log.push_back(std::to_string(w % 100) + (sent ? " sent " : " posted ") + std::to_string(m) +
                  " " + std::to_string(p));
    return intptr_t{7};
  };
  h.key = [&](WindowHandle w, const KeyStroke& k) {
    log.push_back(std::to_string(w % 100) + " key " + U8(k.Describe()));
  };
  WindowHandle a = d.CreateWindow({u"C", u"A"}, h), b = d.CreateWindow({u"C", u"B"}, h);
  const std::string A = std::to_string(a % 100), B = std::to_string(b % 100);
  d.SetForegroundWindow(a);
  DesktopKeystrokes keys(d);
  keys.SendKeys(u"%1", false);
  EXPECT_TRUE(d.PostMessage(b, kWmCommand, 10024, 0));
  EXPECT_EQ(d.SendMessage(b, kWmCommand, 10238, 0), 7);
  EXPECT_EQ(log, Strings{B + " sent 273 10238"});
  d.SetForegroundWindow(b);  // the window in front when the keys are processed gets them
  EXPECT_EQ(d.DispatchPending(), 2u);
  EXPECT_EQ(log, (Strings{B + " sent 273 10238", B + " posted 273 10024", B + " key Alt+1"}));
  keys.SendKeys(u"y", true);  // waiting delivers at once
  EXPECT_EQ(log.back(), B + " key y");
  EXPECT_THROW(keys.SendKeys(u"z(", false), Failure);  // nothing is queued
  d.PostMessage(a, kWmClose, 0, 0);
  d.DestroyWindow(a);  // its queued messages go with it
  EXPECT_EQ(d.PendingCount(), 0u);
  EXPECT_EQ(d.SendMessage(0, kWmCommand, 1, 0), 0);
  EXPECT_FALSE(d.PostMessage(0, kWmCommand, 1, 0));
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
  const Variant one[] = {Variant(int32_t{21})}, omitted[] = {Variant::Missing()};
  EXPECT_EQ(echo->Invoke(u"twice", one), Variant(42.0));
  auto number = [&](TextView member, std::span<const Variant> args) {
    try {
      echo->Invoke(member, args);
    } catch (const Failure& f) {
      return f.number();
    }
    return 0L;
  };
  EXPECT_EQ(number(u"Thrice", one), 438);
  EXPECT_EQ(number(u"Twice", omitted), 449);
  EXPECT_EQ(number(u"Twice", {}), 450);
  registry.Unregister(u"test.echo");
  EXPECT_THROW(registry.CreateObject(u"Test.Echo"), Failure);
}

}  // namespace
}  // namespace pellory::testing
