#include "plugin/records.h"

#include <gtest/gtest.h>

#include "support/fake_env.h"

namespace pellory::testing {
namespace {

TEST(Records, ReadsPlainAndPrefixedEntries) {
  FakeEnv env;
  EXPECT_EQ(GetText(env, u"{Result=Fail}{Reason=Could not load Workspace}", u"reason"),
            u"Could not load Workspace");
  EXPECT_TRUE(GetVar(env, u"", u"x").is_empty());
  EXPECT_EQ(GetText(env, u"{Tel2=1}{Telephone=2}", u"Tel"), u"");
  EXPECT_EQ(GetText(env, u"{A(S5)=}{=x}}", u"A"), u"}{=x}");
  EXPECT_EQ(GetText(env, u"{A=}{=x}}", u"A"), u"");
  EXPECT_EQ(GetText(env, u"{Tel(11)=01234 56789}", u"Tel"), u"01234 56789");
  EXPECT_EQ(GetText(env, u"{A=1}{A(S1)=2}", u"a"), u"2");
}

TEST(Records, AddVarAppendsAndReplaces) {
  FakeEnv env;
  Text rd;
  AddVar(env, rd, u"Records", Variant(int32_t{120}));
  EXPECT_EQ(rd, u"{Records(N3)=120}");
  EXPECT_EQ(GetVar(env, rd, u"Records"), Variant(120.0));
  rd = u"{A(S1)=x}{B(S1)=y}";
  AddVar(env, rd, u"A", Variant(u"z"));
  EXPECT_EQ(rd, u"{B(S1)=y}{A(S1)=z}");
  rd = u"{Page=X}";
  AddVar(env, rd, u"Page", Variant(u"USER"));
  EXPECT_EQ(rd, u"{Page(S4)=USER}");
  rd.clear();
  AddVar(env, rd, u"Name", Variant(u""), true);
  EXPECT_EQ(rd, u"{Name(S0)=}");
  AddVar(env, rd, u"Name", Variant(u""));
  EXPECT_EQ(rd, u"");
}

}  // namespace
}  // namespace pellory::testing
