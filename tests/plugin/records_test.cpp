#include "plugin/records.h"

#include <gtest/gtest.h>

#include "support/fake_env.h"

namespace pellory::testing {
namespace {

class Records : public ::testing::Test {
 protected:
  Text Get(TextView rd, TextView name) { return GetText(env, rd, name); }
  Text Add(Text rd, TextView name, const Variant& value, bool keep_empty = false) {
    AddVar(env, rd, name, value, keep_empty);
    return rd;
  }
  void TearDown() override {
    // None of the operations may report a failure for the records below.
    if (!expect_trace) {
      EXPECT_TRUE(env.trace_file.lines.empty()) << U8(env.trace_file.lines[0]);
    }
  }
  FakeEnv env;
  bool expect_trace = false;
};

TEST_F(Records, ReadsPlainEntriesByNameWithoutRegardToCase) {
  EXPECT_EQ(Get(u"{Result=Fail}{Reason=Could not load Workspace}", u"reason"),
            u"Could not load Workspace");
  EXPECT_EQ(Get(u"{Result=Fail}", u"RESULT"), u"Fail");
  // The character after the name must be "(" or "=".
  EXPECT_TRUE(GetVar(env, u"{Tel2=1}{Telephone=2}{Tel 3(S1)=x}", u"Tel").is_empty());
  // A plain value stops at its first "}"; a missing "}" runs to the end.
  EXPECT_EQ(Get(u"{A=x{y=z}w}", u"A"), u"x{y=z");
  EXPECT_EQ(Get(u"{A=xyz", u"A"), u"xyz");
}

TEST_F(Records, MissingNamesGiveNothingOrTheDefault) {
  EXPECT_TRUE(GetVar(env, u"", u"x").is_empty());
  EXPECT_EQ(GetVar(env, u"", u"x", Variant(int32_t{7})), Variant(int32_t{7}));
  EXPECT_EQ(GetVar(env, u"{y=1}", u"x", Variant(u"d")), Variant(u"d"));
  // An empty value is a value: the default is not used.
  EXPECT_EQ(GetVar(env, u"{x=}", u"x", Variant(u"d")), Variant(u""));
  EXPECT_EQ(GetVar(env, u"{x(S0)=}", u"x", Variant(u"d")), Variant(u""));
}

TEST_F(Records, LengthPrefixedValuesMayHoldAnyCharacter) {
  EXPECT_EQ(Get(u"{A(S5)=}{=x}}", u"A"), u"}{=x}");
  EXPECT_EQ(Get(u"{A(S9)={B(S1)=q}}{B(S1)=r}", u"B"), u"r");
  EXPECT_EQ(Get(u"{Tel(S11)=01234 56789}", u"tel"), u"01234 56789");
  // Without the type letter the entry reads as text.
  EXPECT_EQ(GetVar(env, u"{Tel(11)=01234 56789}", u"Tel"), Variant(u"01234 56789"));
  // Type letters are compared with exact case.
  EXPECT_EQ(GetVar(env, u"{A(n3)=120}", u"A"), Variant(u"120"));
  EXPECT_EQ(GetVar(env, u"{A(N3)=120}", u"A"), Variant(120.0));
  EXPECT_EQ(GetVar(env, u"{A(N3)=abc}", u"A"), Variant(0.0));
  EXPECT_EQ(GetVar(env, u"{A(N6)= -1.5x}", u"A"), Variant(-1.5));
}

TEST_F(Records, LengthPrefixedFormIsPreferred) {
  EXPECT_EQ(Get(u"{A=1}{A(S1)=2}", u"a"), u"2");
  EXPECT_EQ(Add(u"{A=1}{A(S1)=2}", u"A", Variant(u"3")), u"{A=1}{A(S1)=3}");
  // Duplicates: the first is read, and only the first is replaced.
  EXPECT_EQ(Get(u"{A(S1)=1}{A(S1)=2}", u"A"), u"1");
  EXPECT_EQ(Add(u"{A(S1)=1}{A(S1)=2}", u"A", Variant(u"3")), u"{A(S1)=2}{A(S1)=3}");
}

TEST_F(Records, NamesInsideValuesAreFoundOnlyWhenNotAtTheTopLevel) {
  const Text rd = u"{X(S9)={A(S1)=q}}{Y=1}";
  EXPECT_EQ(Get(rd, u"A"), u"q");
  EXPECT_EQ(Get(u"{X(S9)={A(S1)=q}}{A(S1)=r}", u"A"), u"r");
  EXPECT_EQ(Get(u"{X=see {Z=inner}", u"Z"), u"inner");
  // AddVar never cuts into another entry's value.
  EXPECT_EQ(Add(rd, u"A", Variant(u"z")), rd + u"{A(S1)=z}");
  EXPECT_EQ(Add(u"{X(S9)={A(S1)=q}}{A(S1)=r}", u"A", Variant(u"")), u"{X(S9)={A(S1)=q}}");
}

TEST_F(Records, AddVarAppendsRemovesAndMovesEntries) {
  EXPECT_EQ(Add(u"", u"Records", Variant(int32_t{120})), u"{Records(N3)=120}");
  EXPECT_EQ(GetVar(env, u"{Records(N3)=120}", u"Records"), Variant(120.0));
  EXPECT_EQ(Add(u"{A(S1)=x}{B(S1)=y}", u"A", Variant(u"z")), u"{B(S1)=y}{A(S1)=z}");
  EXPECT_EQ(Add(u"{Page=X}{B=1}", u"Page", Variant(u"USER")), u"{B=1}{Page(S4)=USER}");
  EXPECT_EQ(Add(u"", u"Name", Variant(u""), true), u"{Name(S0)=}");
  EXPECT_EQ(Add(u"{A=1}{Name(S1)=x}{B=2}", u"Name", Variant(u"")), u"{A=1}{B=2}");
  EXPECT_EQ(Add(u"{A=1}", u"Name", Variant()), u"{A=1}");
  EXPECT_EQ(Add(u"{A=1}", u"Name", Variant(), true), u"{A=1}{Name(S0)=}");
  // The new entry is spelled as the caller spells it.
  EXPECT_EQ(Add(u"{result=x}", u"Result", Variant(u"Fail")), u"{Result(S4)=Fail}");
  // Text between entries is left alone.
  EXPECT_EQ(Add(u"junk{A=1}more", u"A", Variant(u"2")), u"junkmore{A(S1)=2}");
}

TEST_F(Records, LengthsCountUtf16Units) {
  const Text face = u"\U0001F600";  // outside the Basic Multilingual Plane: two units
  Text rd = Add(u"", u"F", Variant(face));
  EXPECT_EQ(rd, u"{F(S2)=" + face + u"}");
  rd = Add(rd, u"E", Variant(Text(u"\u00e9}")));
  EXPECT_EQ(rd, u"{F(S2)=" + face + u"}{E(S2)=\u00e9}}");
  EXPECT_EQ(Get(rd, u"F"), face);
  EXPECT_EQ(Get(rd, u"E"), u"\u00e9}");
  EXPECT_EQ(Add(rd, u"F", Variant(u"")), u"{E(S2)=\u00e9}}");
}

// Every kind of value reads back as itself (numbers as doubles).
TEST_F(Records, EveryValueKindRoundTrips) {
  for (char16_t separator : {u'.', u','}) {
    env.fake_regional.separator = separator;
    struct Case {
      Variant value;
      Text text;  // as written, with "." standing for the separator
      Variant back;
    };
    const DateTime when = MakeDateTime(2026, 12, 6, 11, 43, 57);
    const Case cases[] = {
        {Variant(u"x{y}=z"), u"x{y}=z", Variant(u"x{y}=z")},
        {Variant(true), u"True", Variant(u"True")},
        {Variant(false), u"False", Variant(u"False")},
        {Variant(int16_t{-32768}), u"-32768", Variant(-32768.0)},
        {Variant(int32_t{2147483647}), u"2147483647", Variant(2147483647.0)},
        {Variant(1.5f), u"1.5", Variant(1.5)},
        {Variant(0.1f), u"0.1", Variant(0.1)},
        {Variant(-1234.5678), u"-1234.5678", Variant(-1234.5678)},
        {Variant(1e20), u"1E+20", Variant(1e20)},
        {Variant(Currency{-123456}), u"-12.3456", Variant(-12.3456)},
        {Variant(Currency{50000}), u"5", Variant(5.0)},
        {Variant(Decimal{12345, 0, 2, false}), u"123.45", Variant(123.45)},
        {Variant(uint8_t{255}), u"255", Variant(255.0)},
        {Variant(when), u"06/12/2026 11:43:57", Variant(when)},
        {Variant(MakeDateTime(2026, 1, 2, 0, 0, 0)), u"02/01/2026",
         Variant(MakeDateTime(2026, 1, 2, 0, 0, 0))},
        {Variant(MakeDateTime(1899, 12, 30, 8, 5, 0)), u"08:05:00",
         Variant(MakeDateTime(1899, 12, 30, 8, 5, 0))},
    };
    for (const Case& c : cases) {
      Text text = c.text;
      if (c.value.is_number()) {
        for (auto& ch : text) {
          if (ch == u'.') ch = separator;
        }
      }
      const char16_t type = c.value.is_number()                      ? u'N'
                            : c.value.kind() == Variant::Kind::kDate ? u'D'
                                                                     : u'S';
      Text rd = Add(u"{Before(S1)=b}", u"V", c.value);
      EXPECT_EQ(rd, u"{Before(S1)=b}{V(" + Text(1, type) + IntegerText(text.size()) + u")=" + text +
                        u"}");
      Variant back = GetVar(env, rd, u"v");
      if (c.back.kind() == Variant::Kind::kDouble && back.kind() == Variant::Kind::kDouble) {
        EXPECT_DOUBLE_EQ(back.ToDouble(), c.back.ToDouble()) << U8(text);
      } else {
        EXPECT_EQ(back, c.back) << U8(text);
      }
      EXPECT_EQ(Get(rd, u"Before"), u"b");
    }
  }
}

TEST_F(Records, UnreadableDateIsReportedAndReadsAsNothing) {
  expect_trace = true;
  EXPECT_TRUE(GetVar(env, u"{D(D3)=abc}", u"D", Variant(u"d")).is_empty());
  ASSERT_EQ(env.trace_file.lines.size(), 1u);
  EXPECT_EQ(env.trace_file.lines[0],
            u"Pellory - 06/12/2026 11:43:57    @ Type mismatch @ basGlobal.GetVar");
}

// Malformed length-prefixed entries never fail, and AddVar keeps whatever
// stands before and after them.
TEST_F(Records, MalformedEntriesAreReadAndReplacedWithoutLosingNeighbours) {
  struct Case {
    Text entry;
    Text value;  // what GetVar reads
  };
  const Case cases[] = {
      {u"{M(S-3)=abc}", u""},       // negative length
      {u"{M(Sxx)=abc}", u""},       // not a number
      {u"{M()=abc}", u""},          // no type letter, no length
      {u"{M(S3=abc}", u"abc"},      // missing ")" but length lands on "}"
      {u"{M(S3abc}", u""},          // neither ")" nor "=" in the header
      {u"{M(S2)=abc}", u"ab"},      // too short
      {u"{M(S9)=abc}", u"abc"},     // past the entry's end
      {u"{M(S50)=abc", u"abc"},     // past the record's end, no "}"
      {u"{M(S)=abc}", u""},         // missing length
      {u"{M(1.6)=ab}", u"ab"},      // fractional length
      {u"{M(S1e9)=abc}", u"abc"},   // huge length
      {u"{M(S99999999999", u"99"},  // no "=" within the header
      {u"{M(", u""},                // nothing after "("
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.entry));
    for (const Text& before : {Text(), Text(u"{A(S1)=a}"), Text(u"{A=a}")}) {
      const Text after = u"{B(S1)=b}";
      Text rd = before + c.entry + after;
      EXPECT_EQ(Get(rd, u"M"), c.value);
      EXPECT_EQ(Get(rd, u"B"), u"b");
      if (!before.empty()) {
        EXPECT_EQ(Get(rd, u"A"), u"a");
      }
      Text added = Add(rd, u"M", Variant(u"new"));
      EXPECT_EQ(Get(added, u"M"), u"new");
      EXPECT_EQ(Get(added, u"B"), u"b");
      if (!before.empty()) {
        EXPECT_EQ(Get(added, u"A"), u"a");
      }
      // Adding another name leaves the malformed entry reading as before.
      Text other = Add(rd, u"C", Variant(u"c"));
      EXPECT_EQ(Get(other, u"M"), c.value);
      EXPECT_EQ(Get(other, u"C"), u"c");
      EXPECT_EQ(Get(other, u"B"), u"b");
    }
  }
}

TEST_F(Records, EntryCutShortDoesNotSwallowTheNextOne) {
  const Text rd = u"{N(S5)=ab{B(S1)=y}{C=1}";
  EXPECT_EQ(Get(rd, u"N"), u"ab");
  EXPECT_EQ(Add(rd, u"N", Variant(u"q")), u"{B(S1)=y}{C=1}{N(S1)=q}");
  EXPECT_EQ(Add(u"{Tel(11)=01234 56789}{X=1}", u"Tel", Variant(u"5")), u"{X=1}{Tel(S1)=5}");
  EXPECT_EQ(Add(u"{A(S3)=xy", u"C", Variant(u"1")), u"{A(S3)=xy{C(S1)=1}");
  EXPECT_EQ(Get(u"{A(S3)=xy{C(S1)=1}", u"A"), u"xy");
}

TEST_F(Records, RecordBuiltByAddVarReadsBackInFull) {
  Text rd;
  for (int i = 0; i < 200; ++i) {
    Text v(static_cast<size_t>(i % 13), u'}');
    v += IntegerText(i) + u"{=(";
    AddVar(env, rd, u"K" + IntegerText(i), Variant(v));
  }
  AddVar(env, rd, u"K7", Variant(u"seven"));
  for (int i = 0; i < 200; ++i) {
    Text expected = i == 7 ? Text(u"seven") : Text(static_cast<size_t>(i % 13), u'}');
    if (i != 7) expected += IntegerText(i) + u"{=(";
    ASSERT_EQ(Get(rd, u"k" + IntegerText(i)), expected) << i;
  }
  EXPECT_TRUE(rd.ends_with(u"}{K7(S5)=seven}"));
}

}  // namespace
}  // namespace pellory::testing
