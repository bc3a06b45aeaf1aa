#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <vector>

#include "lookup/phone_number.h"
#include "lookup/phone_pattern.h"
#include "support/fake_env.h"

namespace pellory::lookup {
namespace {

using testing::T;
using testing::U8;

struct InterpretCase {
  const char* region;
  const char* written;
  // "+44 2079460018" (country code written), "44 2079460018" (taken from
  // the region), with " x123" for an extension; "" when not a number.
  const char* expected;
};

std::string Show(const std::optional<PhoneNumber>& n) {
  if (!n) return "";
  std::string out =
      (n->country_written ? "+" : "") + std::to_string(n->country_code) + " " + U8(n->national);
  if (!n->extension.empty()) out += " x" + U8(n->extension);
  return out;
}

TEST(PhoneNumberTest, InterpretsNumbersAsTheirRegionDialsThem) {
  const InterpretCase cases[] = {
      // GB: trunk prefix 0, international prefix 00.
      {"GB", "+442079460018", "+44 2079460018"},
      {"GB", "02079460018", "44 2079460018"},
      {"GB", "00442079460018", "+44 2079460018"},
      {"GB", "+44 (0)20 7946 0018", "+44 2079460018"},
      {"GB", "0044 20 7946 0018", "+44 2079460018"},
      {"GB", "442079460018", "+44 2079460018"},  // the own code without "+"
      {"GB", "++44 20 7946 0018", "+44 2079460018"},
      {"GB", "+0044 20 7946 0018", "+44 2079460018"},
      {"GB", "Tel: 020.7946.0018", "44 2079460018"},
      {"GB", "tel:+44-20-7946-0018;ext=12", "+44 2079460018 x12"},
      {"GB", "tel:7946-0018;phone-context=+44-20", "+44 2079460018"},
      {"GB", "\uff10\uff12\uff10 \uff17\uff19\uff14\uff16 \uff10\uff10\uff11\uff18",
       "44 2079460018"},
      {"GB", "7946 0018", "44 79460018"},  // local number: nothing stripped
      {"GB", "020 7946 0018-22", "44 2079460018 x22"},
      {"GB", "020 7946 0018, 123", "44 2079460018 x123"},
      {"GB", "020 7946 0018,,123", "44 2079460018 x123"},
      {"GB", "020 7946 0018;123", "44 2079460018 x123"},
      {"GB", "020 7946 0018 #123", "44 2079460018 x123"},
      {"GB", "020 7946 0018 Ext. 123", "44 2079460018 x123"},
      {"GB", "020 7946 0018 extension: 123", "44 2079460018 x123"},
      {"GB", "020 7946 0018 ext.", "44 2079460018"},  // a label without digits
      {"GB", "+1 (555) 010-9999 x123", "+1 5550109999 x123"},
      {"GB", "+800 1234 5678", "+800 12345678"},  // non-geographic
      // US: trunk prefix 1, international prefix 011.
      {"US", "555-010-9999", "1 5550109999"},
      {"US", "1 555 010 9999", "+1 5550109999"},
      {"US", "011 44 20 7946 0018", "+44 2079460018"},
      {"US", "555-010-9999 - 123#", "1 5550109999 x123"},
      {"US", "555-010-9999-123", "1 5550109999 x123"},
      // DE: digits after a dash are dialled straight through.
      {"DE", "030 1234567-22", "49 30123456722"},
      {"DE", "+49 (0)30 1234567", "+49 301234567"},
      {"DE", "0049 30 1234567", "+49 301234567"},
      {"FR", "01 23 45 67 89", "33 123456789"},
      {"FR", "+33 (0)1 23 45 67 89", "+33 123456789"},
      // Trunk prefixes other than 0.
      {"HU", "06 1 234 5678", "36 12345678"},
      {"HU", "06-30-123-4567", "36 301234567"},
      {"HU", "+36 1 234 5678", "+36 12345678"},
      {"RU", "8 (495) 123-45-67", "7 4951234567"},
      {"RU", "8 10 44 20 7946 0018", "+44 2079460018"},
      {"RU", "+7 495 123-45-67", "+7 4951234567"},
      // No trunk prefix: IT keeps its leading 0 (also in "(0)"), ES and DK
      // have none to drop.
      {"IT", "06 1234 5678", "39 0612345678"},
      {"IT", "+39 (0)6 1234 5678", "+39 0612345678"},
      {"ES", "91 123 45 67", "34 911234567"},
      {"ES", "+34 (0)91 123 45 67", "+34 911234567"},
      {"DK", "+45 32 12 34 56", "+45 32123456"},
      // Local numbers and carrier codes that the plan rewrites.
      {"GG", "256789", "44 1481256789"},
      {"AR", "011 15-2345-6789", "54 91123456789"},
      {"BR", "0xx21 11 98765 4321", "55 11987654321"},
      {"AU", "0011 44 20 7946 0018", "+44 2079460018"},
      // No telephone numbers.
      {"GB", "anonymous", ""},
      {"GB", "", ""},
      {"GB", "0", ""},
      {"GB", "+", ""},
      {"GB", "++44", ""},
      {"GB", "+999 123 456", ""},                          // no such country code
      {"GB", "+44 20 7946 0018 7946 0018 7946 0018", ""},  // more than 17 digits
      {"GB", "020 7946 0018 (office)", ""},
      {"GB", "0800 CALL NOW", ""},
      {"GB", "020 7946+0018", ""},
  };
  for (const InterpretCase& c : cases) {
    const RegionInfo* region = FindRegion(T(c.region));
    ASSERT_NE(region, nullptr) << c.region;
    EXPECT_EQ(Show(Interpret(T(c.written), *region)), c.expected) << c.region << " " << c.written;
  }
  EXPECT_FALSE(Interpret(Text(251, u'1'), *FindRegion(u"GB")).has_value());
}

// Whatever the text, nothing goes wrong, and a reading has 2 to 17 national
// digits.
TEST(PhoneNumberTest, AnyTextGivesASoundReadingOrNone) {
  const char16_t alphabet[] = u"0123456789 +()-.x#;,=/tel:ext\uff10\u0661(0)";
  const std::vector<const RegionInfo*> regions = {FindRegion(u"GB"), FindRegion(u"US"),
                                                  FindRegion(u"AR"), FindRegion(u"BR"),
                                                  FindRegion(u"RU"), FindRegion(u"GG")};
  std::mt19937 rng(7);
  int read = 0;
  for (int i = 0; i < 20000; ++i) {
    Text text;
    const size_t length = rng() % 40;
    for (size_t j = 0; j < length; ++j) text += alphabet[rng() % (std::size(alphabet) - 1)];
    const auto n = Interpret(text, *regions[rng() % regions.size()]);
    if (!n) continue;
    ++read;
    EXPECT_GE(n->national.size(), 2u) << U8(text);
    EXPECT_LE(n->national.size(), 17u) << U8(text);
    EXPECT_TRUE(std::all_of(n->national.begin(), n->national.end(), [](char16_t c) {
      return c >= u'0' && c <= u'9';
    })) << U8(text);
    EXPECT_EQ(E164(*n).size(), 1 + IntegerText(n->country_code).size() + n->national.size());
  }
  EXPECT_GT(read, 500);
}

TEST(PhoneNumberTest, ComparesNumbersByTier) {
  struct Case {
    PhoneNumber a, b;
    MatchTier tier;
  };
  auto n = [](uint16_t code, bool written, const char16_t* national, const char16_t* ext = u"") {
    return PhoneNumber{code, written, national, ext};
  };
  const Case cases[] = {
      {n(44, true, u"2079460018"), n(44, true, u"2079460018"), MatchTier::kSame},
      {n(44, true, u"2079460018"), n(44, false, u"2079460018"), MatchTier::kSame},
      // A number without a written code is the same in any country.
      {n(49, true, u"301234567"), n(44, false, u"301234567"), MatchTier::kSame},
      {n(49, true, u"301234567"), n(44, true, u"301234567"), MatchTier::kNone},
      {n(1, true, u"5550109999"), n(1, true, u"5550109999", u"123"), MatchTier::kPartial},
      {n(1, true, u"5550109999", u"123"), n(1, false, u"5550109999", u"123"), MatchTier::kSame},
      {n(1, true, u"5550109999", u"123"), n(1, true, u"5550109999", u"124"), MatchTier::kNone},
      // A missing area code: 7 digits or more in common at the end.
      {n(44, true, u"2079460018"), n(44, false, u"79460018"), MatchTier::kPartial},
      {n(44, true, u"2079460018"), n(44, false, u"9460018"), MatchTier::kPartial},
      {n(44, true, u"2079460018"), n(44, false, u"460018"), MatchTier::kNone},
      {n(39, true, u"0612345678"), n(39, true, u"612345678"), MatchTier::kPartial},
      {n(44, true, u"2079460018"), n(44, true, u"2079460019"), MatchTier::kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compare(c.a, c.b), c.tier) << Show(c.a) << " / " << Show(c.b);
    EXPECT_EQ(Compare(c.b, c.a), c.tier) << Show(c.b) << " / " << Show(c.a);
  }
}

TEST(PhoneNumberTest, E164AndCandidateKey) {
  const PhoneNumber london{44, false, u"2079460018", u"22"};
  EXPECT_EQ(E164(london), u"+442079460018");
  EXPECT_EQ(CandidateKey(london), u"8100649");
  EXPECT_EQ(CandidateKey(PhoneNumber{45, true, u"1234567", u""}), u"7654321");
  EXPECT_EQ(CandidateKey(PhoneNumber{290, true, u"123456", u""}), std::nullopt);
}

TEST(PhoneNumberTest, FindsRegionsByCodeAndEnglishName) {
  const std::pair<const char*, const char*> cases[] = {
      {"GB", "GB"},
      {" gb ", "GB"},
      {"GBR", "GB"},
      {"United Kingdom", "GB"},
      {"UK", "GB"},
      {"U.K.", "GB"},
      {"great britain", "GB"},
      {"United States of America", "US"},
      {"USA", "US"},
      {"Germany", "DE"},
      {"DEU", "DE"},
      {"C\u00f4te d\u2019Ivoire", "CI"},
      {"Cote d'Ivoire", "CI"},
      {"Ivory Coast", "CI"},
      {"Bosnia and Herzegovina", "BA"},
      {"Saint Lucia", "LC"},
      {"St. Lucia", "LC"},
      {"The Netherlands", "NL"},
      {"\u00c5land Islands", "AX"},
      {"Kosovo", "XK"},
      {"Atlantis", nullptr},
      {"", nullptr},
      {"ZZ", nullptr},
      {"001", nullptr},
      {"\u0420\u043e\u0441\u0441\u0438\u044f", nullptr},
  };
  for (const auto& [name, code] : cases) {
    const RegionInfo* region = FindRegion(T(name));
    EXPECT_EQ(std::string(region ? region->code : ""), code ? code : "") << name;
  }
  const RegionInfo& gb = *FindRegion(u"GB");
  EXPECT_EQ(gb.country_code, 44);
  EXPECT_EQ(Text(gb.name), u"United Kingdom");
}

TEST(PhoneNumberTest, DigitPatternsMatchAsPerlDoes) {
  struct Case {
    const char* pattern;
    const char16_t* digits;
    bool whole;
    int prefix;  // length of the match at the start; -1: none
    const char16_t* group1;
    const char16_t* group2;
  };
  const Case cases[] = {
      {"1|([457]\\d{6})$", u"4621234", true, 7, u"4621234", u""},
      {"1|([457]\\d{6})$", u"14621234", false, 1, u"", u""},
      {"1|([457]\\d{6})$", u"46212345", false, -1, u"", u""},
      {"(?:0|90)(?:(1[245]|2[1-35])(\\d{10,11}))?", u"02111987654321", true, 14, u"21",
       u"11987654321"},
      {"(?:0|90)(?:(1[245]|2[1-35])(\\d{10,11}))?", u"0311987654321", false, 1, u"", u""},
      {"00(?:30|5[09]|[126-9]?)", u"0030", true, 4, u"", u""},
      {"00(?:30|5[09]|[126-9]?)", u"0044", false, 2, u"", u""},
      {"\\d{2,4}5", u"12345", true, 5, u"", u""},
      {"(?:\\d{2})?\\d{7}", u"123456789", true, 9, u"", u""},
      {"(?:\\d{2})?\\d{7}", u"12345678", false, 7, u"", u""},
      {"(\\d)+", u"123", true, 3, u"3", u""},
  };
  for (const Case& c : cases) {
    const auto p = DigitPattern::Compile(c.pattern);
    ASSERT_TRUE(p.has_value()) << c.pattern;
    EXPECT_EQ(p->FullMatch(c.digits), c.whole) << c.pattern << " " << U8(c.digits);
    const auto m = p->MatchPrefix(c.digits);
    EXPECT_EQ(m ? static_cast<int>(m->length) : -1, c.prefix) << c.pattern << " " << U8(c.digits);
    if (m) {
      EXPECT_EQ(m->groups[1], c.group1) << c.pattern;
      EXPECT_EQ(m->groups[2], c.group2) << c.pattern;
    }
  }
  for (const char* outside : {"a", "[^0]", "\\w", "(0", "0)", "0{2,1}", "0*?", "$?", ".", "[0-"}) {
    EXPECT_FALSE(DigitPattern::Compile(outside).has_value()) << outside;
  }
}

}  // namespace
}  // namespace pellory::lookup
