// The trace log, Translate and the five text functions.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/failure.h"
#include "plugin/text_functions.h"
#include "plugin/trace_log.h"
#include "plugin/translate.h"
#include "plugin/trap.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

TEST(TraceLog, OneLinePerFailureInTheFixedFormat) {
  FakeEnv env;
  EXPECT_FALSE(Trap(env, u" @ plugin.Session.Load", [] { throw Failure(u"Boom", 5); }));
  env.fake_clock.now = MakeDateTime(2027, 1, 2, 3, 4, 5);
  EXPECT_FALSE(Trap(env, u" @ Pell.Find", [] { throw std::runtime_error("odbc said no"); }));
  EXPECT_TRUE(Trap(env, u" @ Pell.Find", [] {}));
  ASSERT_EQ(env.trace_file.lines.size(), 2u);
  EXPECT_EQ(env.trace_file.lines[0],
            u"Pellory - 06/12/2026 11:43:57    @ Boom @ plugin.Session.Load");
  EXPECT_EQ(env.trace_file.lines[1],
            u"Pellory - 02/01/2027 03:04:05    @ odbc said no @ Pell.Find");
}

TEST(TraceLog, SkipsTheTwoKnownMessagesInAnyCase) {
  FakeEnv env;
  LogError(env, u"x ADDRESS family IS NOT supported y @ Pell.Find");
  LogError(env, u"Form CANNOT be created because its designer window is open. @ Pell.frmConfig");
  LogError(env, u"Address Family is supported");
  ASSERT_EQ(env.trace_file.lines.size(), 1u);
  EXPECT_TRUE(env.trace_file.lines[0].ends_with(u"    @ Address Family is supported"));
}

TEST(TraceLog, BrokenClockStillGivesALine) {
  struct BrokenClock : FakeClock {
    DateTime Now() override { throw Failure(u"no clock"); }
  };
  struct Env2 : FakeEnv {
    Clock& clock() override { return broken; }
    BrokenClock broken;
  } env;
  LogError(env, u"m @ t");
  ASSERT_EQ(env.trace_file.lines.size(), 1u);
  EXPECT_TRUE(env.trace_file.lines[0].ends_with(u"    @ m @ t"));
}

TEST(Translate, FillsNumberedPlaceholders) {
  FakeEnv env;
  EXPECT_EQ(Translate(env, u"", u"<1> Configuration", u"Maximizer", u""),
            u"Maximizer Configuration");
  for (const char16_t* plain : {u"Lookup", u"User", u"(Default)", u""}) {
    EXPECT_EQ(Translate(env, u"", plain, u"x", u"y"), plain);
  }
  EXPECT_EQ(Translate(env, u"", u"<1><1>", u"ab", u""), u"abab");
  EXPECT_EQ(Translate(env, u"", u"< 1><1 ><1>", u"x", u""), u"< 1><1 >x");
  EXPECT_EQ(Translate(env, u"", u"a<1>b<2>c", u"", u""), u"abc");
  // Step 2 runs over the result of step 1 ...
  EXPECT_EQ(Translate(env, u"", u"<1>|<2>", u"[<2>]", u"two"), u"[two]|two");
  // ... but inserted text is not scanned again by its own step.
  EXPECT_EQ(Translate(env, u"", u"<1>", u"<1><1>", u""), u"<1><1>");
  EXPECT_EQ(Translate(env, u"", u"<<1>1>", u"<", u""), u"<<1>");
  EXPECT_EQ(Translate(env, u"ignored key", u"<1>", u"k", u""), u"k");
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST(TextFunctions, DigitsOnlyAndReverse) {
  const std::pair<const char16_t*, const char16_t*> digits[] = {
      {u"+44 (0)1234 567-890", u"4401234567890"},
      {u"*31#0800 123", u"*31#0800123"},
      {u"ext", u""},
      {u"#", u"#"},
      {u"\uFF11 1.2/3\u0663", u"123"},  // only ASCII digits count
  };
  for (const auto& [in, out] : digits) EXPECT_EQ(DigitsOnly(in), out) << U8(in);
  EXPECT_EQ(Reverse(u"01234567"), u"76543210");
  EXPECT_EQ(Reverse(u""), u"");
  EXPECT_EQ(Reverse(u"#12*"), u"*21#");
}

TEST(TextFunctions, WordsOnly) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"O'Brien & Sons, Ltd.", u"O,BRIEN,SONS,LTD"},
      {u"john  smith ", u"JOHN,SMITH"},
      {u"  john", u",JOHN"},
      {u"M\u00fcller", u"M,LLER"},
      {u"---", u""},
      {u"", u""},
      {u"abc123 x9", u"ABC123,X9"},
      {u"a\U0001F600b", u"A,B"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(WordsOnly(in), out) << U8(in);
}

TEST(TextFunctions, PhoneType) {
  EXPECT_EQ(PhoneType(2, u"fax"), u"Fax");
  EXPECT_EQ(PhoneType(3, u"Home"), u"Phone3");
  EXPECT_EQ(PhoneType(4, u""), u"Other");
  EXPECT_EQ(PhoneType(1, u" MAIN"), u"Phone1");
  EXPECT_EQ(PhoneType(4, u"Main"), u"MainTel");
  EXPECT_EQ(PhoneType(1, u"work"), u"Business");
  EXPECT_EQ(PhoneType(2, u"Mobile"), u"Phone2");
}

TEST(TextFunctions, WordsMatch) {
  EXPECT_TRUE(WordsMatch(u",JOHN,SMITH,ACME,LTD,", u"SM,JO"));
  EXPECT_FALSE(WordsMatch(u",JOHN,SMITH,", u"JOHNNY"));
  EXPECT_FALSE(WordsMatch(u",JOHN,", u"OHN"));
  EXPECT_TRUE(WordsMatch(u",JOHN,", u""));
  EXPECT_FALSE(WordsMatch(u",JOHN,", u"john"));
  EXPECT_TRUE(WordsMatch(u",JOHN,", u"J,J,JOHN"));  // one word serves several
  EXPECT_TRUE(WordsMatch(u",JOHN,", u",JO"));       // empty word needs only a comma
  EXPECT_FALSE(WordsMatch(u"JOHN", u",JO"));
  EXPECT_FALSE(WordsMatch(u",JOHN,", u"JO,X"));
  EXPECT_TRUE(WordsMatch(u",JOHN,", u"JO,"));
}

}  // namespace
}  // namespace pellory::testing
