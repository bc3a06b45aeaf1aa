#include "lookup/phone_number.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lookup/phone_pattern.h"
#include "lookup/phone_regions.h"

namespace pellory::lookup {
namespace {

using tables::kRegionCount;
using tables::kRegionNameCount;
using tables::kRegionNames;
using tables::kRegions;

constexpr size_t kMaxWritten = 250;  // longer texts are no telephone numbers
// More digits than this leave more than kMaxNational whatever the prefixes.
constexpr size_t kMaxDigits = 40;
constexpr size_t kMinNational = 2;
constexpr size_t kMaxNational = 17;
constexpr size_t kCandidateDigits = 7;
constexpr size_t kMaxDashExtension = 6;

// ---------------------------------------------------------------------------
// Characters

// The value of a decimal digit of the scripts telephone numbers come in, or -1.
int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= 0xFF10 && c <= 0xFF19) return c - 0xFF10;  // fullwidth
  if (c >= 0x0660 && c <= 0x0669) return c - 0x0660;  // Arabic-Indic
  if (c >= 0x06F0 && c <= 0x06F9) return c - 0x06F0;  // Eastern Arabic-Indic
  return -1;
}
bool IsDigit(char16_t c) { return DigitValue(c) >= 0; }
bool IsPlus(char16_t c) { return c == u'+' || c == 0xFF0B; }
bool IsHash(char16_t c) { return c == u'#' || c == 0xFF03; }
bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == 0xA0 || c == 0xAD || c == 0x200B || c == 0x2060 ||
         c == 0x3000;
}
bool IsDash(char16_t c) {
  return c == u'-' || (c >= 0x2010 && c <= 0x2015) || c == 0x2212 || c == 0x30FC || c == 0xFF0D;
}
bool IsOpening(char16_t c) { return c == u'(' || c == u'[' || c == 0xFF08 || c == 0xFF3B; }
bool IsClosing(char16_t c) { return c == u')' || c == u']' || c == 0xFF09 || c == 0xFF3D; }
// What may stand between the digits of a number. An "x" that marks no
// extension is one too, as in Brazil's "0xx21" (a placeholder for the
// carrier code).
bool IsSeparator(char16_t c) {
  return IsBlank(c) || IsDash(c) || IsOpening(c) || IsClosing(c) || c == u'.' || c == u'/' ||
         c == u'~' || c == u'x' || c == u'X' || c == 0x2053 || c == 0x223C || c == 0xFF0E ||
         c == 0xFF0F || c == 0xFF5E;
}

char16_t AsciiDigit(char16_t c) { return static_cast<char16_t>(u'0' + DigitValue(c)); }

bool EndsWithNoCase(TextView text, TextView tail) {
  return text.size() >= tail.size() && EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

// ---------------------------------------------------------------------------
// Extensions

// Labels before an extension, with the most digits each may introduce.
struct ExtensionLabel {
  TextView text;
  size_t max_digits;
};
constexpr ExtensionLabel kExtensionLabels[] = {
    // "ext", "extn", "extension" and their shorter and Spanish forms.
    {u"extension", 20},
    {u"extensi\u00f3n", 20},
    {u"extensio\u0301n", 20},
    {u"extensio", 20},
    {u"extensi\u00f3", 20},
    {u"extensio\u0301", 20},
    {u"extn", 20},
    {u"ext", 20},
    {u"xtension", 20},
    {u"xtensi\u00f3n", 20},
    {u"xtensio\u0301n", 20},
    {u"xtensio", 20},
    {u"xtensi\u00f3", 20},
    {u"xtensio\u0301", 20},
    {u"xtn", 20},
    {u"xt", 20},
    {u"\uff45\uff58\uff54\uff4e", 20},  // fullwidth "extn"
    {u"\uff45\uff58\uff54", 20},
    {u"\uff58\uff54\uff4e", 20},
    {u"\uff58\uff54", 20},
    {u"\u0434\u043e\u0431", 20},  // Russian "доб."
    {u"anexo", 20},
    // One-character marks and "int": fewer digits, as they are more often
    // something else.
    {u"x", 9},
    {u"\uff58", 9},
    {u"#", 9},
    {u"\uff03", 9},
    {u"~", 9},
    {u"\uff5e", 9},
    {u"int", 9},
    {u"\uff49\uff4e\uff54", 9},
};

bool IsAfterLabel(char16_t c) {
  return c == u' ' || c == 0xA0 || c == u'\t' || c == u',' || c == u'-';
}

struct Split {
  size_t number_end;
  Text extension;
};

// The extension at the end of `t` (which ends in a digit or "#"), if any.
std::optional<Split> SplitExtension(TextView t) {
  size_t end = t.size();
  const bool hash = end > 0 && IsHash(t[end - 1]);
  if (hash) --end;
  size_t start = end;
  while (start > 0 && IsDigit(t[start - 1])) --start;
  if (start == end) return std::nullopt;
  const size_t count = end - start;
  Text digits;
  for (size_t i = start; i < end; ++i) digits += AsciiDigit(t[i]);
  const TextView before = t.substr(0, start);

  // RFC 3966: "tel:+1-555-010-9999;ext=123".
  if (!hash && EndsWithNoCase(before, u";ext=")) {
    if (count > 20) return std::nullopt;
    return Split{start - 5, digits};
  }
  // A label: "x123", " ext. 123", "extension: 123".
  size_t k = start;
  while (k > 0 && IsAfterLabel(t[k - 1])) --k;
  if (k > 0 && (t[k - 1] == u':' || t[k - 1] == u'.' || t[k - 1] == 0xFF0E)) --k;
  const ExtensionLabel* best = nullptr;
  for (const ExtensionLabel& label : kExtensionLabels) {
    if (EndsWithNoCase(t.substr(0, k), label.text) &&
        (!best || label.text.size() > best->text.size())) {
      best = &label;
    }
  }
  if (best) {
    if (count > best->max_digits) return std::nullopt;
    return Split{k - best->text.size(), digits};
  }
  // Dialling pauses: ",,123", ";123", ",123".
  size_t g = start;
  while (g > 0 && (IsAfterLabel(t[g - 1]) || t[g - 1] == u':' || t[g - 1] == u'.' ||
                   t[g - 1] == 0xFF0E || t[g - 1] == u';')) {
    --g;
  }
  size_t m = g;
  while (m < start && (t[m] == u' ' || t[m] == 0xA0 || t[m] == u'\t')) ++m;
  if (m < start && (t[m] == u';' || t[m] == u',')) {
    const bool explicit_pause = t[m] == u';' || (m + 1 < start && t[m + 1] == u',');
    if (count > (explicit_pause ? 15u : 9u)) return std::nullopt;
    return Split{g, digits};
  }
  // "- 503#", as American numbers write it.
  if (hash && start > 0 && (t[start - 1] == u'-' || t[start - 1] == u' ')) {
    if (count > 6) return std::nullopt;
    size_t s = start;
    while (s > 0 && (t[s - 1] == u'-' || t[s - 1] == u' ')) --s;
    return Split{s, digits};
  }
  return std::nullopt;
}

// `t` without an extension word that no digits follow ("020 7946 0018
// ext").
TextView WithoutBareLabel(TextView t) {
  for (const ExtensionLabel& label : kExtensionLabels) {
    if (IsHash(label.text[0]) || IsSeparator(label.text[0])) continue;
    if (label.text.size() < t.size() && EndsWithNoCase(t, label.text)) {
      const char16_t before = t[t.size() - label.text.size() - 1];
      if (IsDigit(before) || IsBlank(before)) return t.substr(0, t.size() - label.text.size());
    }
  }
  return t;
}

// ---------------------------------------------------------------------------
// The written number, taken apart

// Two digits alone, or at least three digits.
bool Viable(TextView s) {
  const size_t digits = static_cast<size_t>(std::count_if(s.begin(), s.end(), IsDigit));
  return digits >= 3 || (digits == 2 && s.size() == 2);
}

struct Written {
  bool plus = false;
  Text digits;  // ASCII
  // Digits in brackets: [begin, end) of `digits`.
  struct Group {
    size_t begin;
    size_t end;
  };
  std::vector<Group> brackets;
  size_t dash_tail = 0;  // digits of a last group after a dash
  Text extension;
};

// "tel:" URIs: a phone-context that is a number prefix goes in front, and a
// sub-address is dropped.
Text FromUri(TextView s) {
  Text out;
  const size_t context = s.find(u";phone-context=");
  if (context != TextView::npos) {
    const size_t start = context + 15;
    if (start < s.size() && IsPlus(s[start])) {
      const size_t end = s.find(u';', start);
      out = s.substr(start, end == TextView::npos ? TextView::npos : end - start);
    }
    const size_t scheme = s.find(u"tel:");
    const size_t from = scheme == TextView::npos || scheme > context ? 0 : scheme + 4;
    out += s.substr(from, context - from);
  } else {
    out = s;
  }
  const size_t isub = out.find(u";isub=");
  if (isub != Text::npos) out.erase(isub);
  return out;
}

std::optional<Written> TakeApart(TextView input) {
  if (input.size() > kMaxWritten) return std::nullopt;
  const Text uri = FromUri(input);
  TextView s = uri;
  // From the first digit or plus sign: "Tel: ", "tel:", "Fax " go.
  size_t b = 0;
  while (b < s.size() && !IsPlus(s[b]) && !IsDigit(s[b])) ++b;
  s = s.substr(b);
  // Trailing blanks and punctuation go too.
  while (!s.empty() && !IsDigit(s.back()) && !IsHash(s.back()) &&
         (IsSeparator(s.back()) || s.back() < 0x80) && !(s.back() >= u'A' && s.back() <= u'Z') &&
         !(s.back() >= u'a' && s.back() <= u'z')) {
    s.remove_suffix(1);
  }
  s = WithoutBareLabel(s);
  // "(530) 583-6985 x302/x2303": the second number goes.
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != u'/' && s[i] != u'\\') continue;
    size_t j = i + 1;
    while (j < s.size() && s[j] == u' ') ++j;
    if (j < s.size() && s[j] == u'x') {
      s = s.substr(0, i);
      break;
    }
  }
  if (s.empty()) return std::nullopt;

  Written w;
  // An extension only where what comes before it can be a number.
  if (const auto split = SplitExtension(s); split && Viable(s.substr(0, split->number_end))) {
    s = s.substr(0, split->number_end);
    w.extension = split->extension;
  }
  size_t i = 0;
  while (i < s.size() && IsPlus(s[i])) {
    w.plus = true;
    ++i;
  }
  size_t open = Text::npos;  // digits before the open bracket
  size_t run_start = 0;      // digits before the current group of digits
  char16_t before_run = 0;   // the character before it
  char16_t previous = 0;
  for (; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (IsDigit(c)) {
      if (!IsDigit(previous)) {
        run_start = w.digits.size();
        before_run = previous;
      }
      w.digits += AsciiDigit(c);
      if (w.digits.size() > kMaxDigits) return std::nullopt;
    } else if (!IsSeparator(c)) {
      return std::nullopt;  // a letter, a plus sign inside, any other sign
    } else if (IsOpening(c)) {
      open = w.digits.size();
    } else if (IsClosing(c)) {
      if (open != Text::npos && w.digits.size() > open)
        w.brackets.push_back({open, w.digits.size()});
      open = Text::npos;
    }
    previous = c;
  }
  const size_t n = w.digits.size();
  if (!Viable(s)) return std::nullopt;
  if (w.extension.empty() && IsDash(before_run) && run_start > 0 &&
      n - run_start <= kMaxDashExtension) {
    w.dash_tail = n - run_start;
  }
  return w;
}

// ---------------------------------------------------------------------------
// Numbering plans

// A region's patterns, compiled.
struct Plan {
  const RegionInfo* info = nullptr;
  std::optional<DigitPattern> international_prefix;
  std::optional<DigitPattern> national_prefix;
  std::optional<DigitPattern> number;
};

Plan Compile(const RegionInfo& region) {
  auto compile = [](const char* pattern) -> std::optional<DigitPattern> {
    if (!*pattern) return std::nullopt;
    return DigitPattern::Compile(pattern);
  };
  return Plan{&region, compile(region.international_prefix),
              compile(region.national_prefix_for_parsing), compile(region.number_pattern)};
}

// The plans of the table's regions, compiled on first use, and the main
// plan of each country code.
struct Plans {
  std::vector<Plan> plans;
  std::array<const Plan*, 1000> by_code{};
};

const Plans& TablePlans() {
  static const Plans table = [] {
    Plans out;
    out.plans.reserve(kRegionCount);
    for (size_t i = 0; i < kRegionCount; ++i) out.plans.push_back(Compile(kRegions[i]));
    for (const Plan& plan : out.plans) {
      if (plan.info->main_for_code && plan.info->country_code < out.by_code.size()) {
        out.by_code[plan.info->country_code] = &plan;
      }
    }
    return out;
  }();
  return table;
}

const Plan* TablePlan(const RegionInfo& region) {
  const std::less<const RegionInfo*> before;
  if (before(&region, kRegions) || !before(&region, kRegions + kRegionCount)) return nullptr;
  return &TablePlans().plans[static_cast<size_t>(&region - kRegions)];
}

bool Matches(const Plan& plan, TextView national) {
  return plan.number && plan.number->FullMatch(national);
}

enum class Length { kPossible, kLocalOnly, kTooShort, kTooLong, kInvalid };

Length TestLength(size_t n, const Plan& plan) {
  const uint32_t possible = plan.info->possible_lengths;
  if (possible == 0) return Length::kInvalid;
  if (n < 32 && ((plan.info->local_lengths >> n) & 1)) return Length::kLocalOnly;
  const size_t shortest = static_cast<size_t>(std::countr_zero(possible));
  const size_t longest = 31 - static_cast<size_t>(std::countl_zero(possible));
  if (n < shortest) return Length::kTooShort;
  if (n > longest) return Length::kTooLong;
  return ((possible >> n) & 1) ? Length::kPossible : Length::kInvalid;
}

// A whole number of the plan: a possible length and the plan's pattern.
bool Fits(TextView national, const Plan& plan) {
  return TestLength(national.size(), plan) == Length::kPossible && Matches(plan, national);
}

const Plan* MainPlan(unsigned country_code) {
  const auto& by_code = TablePlans().by_code;
  return country_code < by_code.size() ? by_code[country_code] : nullptr;
}

// The country code at the start of `digits` and its length (0 when none).
std::pair<const Plan*, size_t> LeadingCountryCode(TextView digits) {
  if (digits.empty() || digits[0] == u'0') return {nullptr, 0};
  unsigned code = 0;
  for (size_t len = 1; len <= 3 && len <= digits.size(); ++len) {
    code = code * 10 + (digits[len - 1] - u'0');
    if (const Plan* main = MainPlan(code)) return {main, len};
  }
  return {nullptr, 0};
}

Text Rewrite(std::string_view rule, const DigitPattern::Prefix& match) {
  Text out;
  for (size_t i = 0; i < rule.size(); ++i) {
    if (rule[i] == '$' && i + 1 < rule.size() && rule[i + 1] >= '1' && rule[i + 1] <= '9') {
      out += match.groups[rule[++i] - '0'];
    } else {
      out += static_cast<char16_t>(rule[i]);
    }
  }
  return out;
}

// Drops the trunk prefix (and a carrier code) the way the plan reads it,
// keeping the number when only the number as it stands fits the plan.
void StripNationalPrefix(const Plan& plan, Text& number) {
  if (number.empty() || !plan.national_prefix) return;
  const auto match = plan.national_prefix->MatchPrefix(number);
  if (!match) return;
  const bool whole_fits = Matches(plan, number);
  // The part of the prefix that the transform keeps: the second group when
  // there are two (the first is a carrier code), else the first.
  const int groups = plan.national_prefix->group_count();
  const TextView kept = groups >= 2   ? match->groups[2]
                        : groups == 1 ? match->groups[1]
                                      : TextView();
  Text result;
  if (*plan.info->national_prefix_transform && !kept.empty()) {
    result = Rewrite(plan.info->national_prefix_transform, *match);
  }
  result += TextView(number).substr(match->length);
  if (whole_fits && !Matches(plan, result)) return;
  number = std::move(result);
}

struct Reading {
  uint16_t country_code = 0;
  bool country_written = false;
  size_t code_end = 0;  // digits up to the end of a written country code
  Text national;
  const Plan* plan = nullptr;
};

// The digits read as `region` dials: country code, trunk prefix, national
// number.
std::optional<Reading> Read(bool plus, TextView digits, const Plan& region) {
  Reading r;
  Text rest;
  const Plan* code_plan = nullptr;
  // An international prefix of the region before a country code (not when
  // a 0 follows: no country code begins with one).
  auto after_idd = [&]() -> size_t {
    if (!region.international_prefix) return 0;
    const auto match = region.international_prefix->MatchPrefix(digits);
    if (!match) return 0;
    if (match->length < digits.size() && digits[match->length] == u'0') return 0;
    return match->length;
  };
  auto take_code = [&](size_t from) -> bool {
    if (digits.size() - from <= kMinNational) return false;
    const auto [main, length] = LeadingCountryCode(digits.substr(from));
    if (!main) return false;
    code_plan = main;
    r.code_end = from + length;
    rest = digits.substr(r.code_end);
    return true;
  };
  size_t idd = 0;
  if (plus) {
    if (digits.size() <= kMinNational) return std::nullopt;
    // Else "+0044 ...": a plus sign before the international prefix.
    if (!take_code(0) && ((idd = after_idd()) == 0 || !take_code(idd))) return std::nullopt;
  } else if ((idd = after_idd()) > 0) {
    if (!take_code(idd)) return std::nullopt;
  } else {
    // The region's own country code without "+": taken as one when the
    // number only fits the plan that way, or is too long otherwise.
    const std::string own = std::to_string(region.info->country_code);
    if (digits.size() > own.size() &&
        std::equal(own.begin(), own.end(), digits.begin(),
                   [](char a, char16_t b) { return static_cast<char16_t>(a) == b; })) {
      Text national(digits.substr(own.size()));
      StripNationalPrefix(region, national);
      if ((!Matches(region, digits) && Matches(region, national)) ||
          TestLength(digits.size(), region) == Length::kTooLong) {
        code_plan = MainPlan(region.info->country_code);
        r.code_end = own.size();
        rest = std::move(national);
      }
    }
  }
  if (code_plan) {
    r.country_code = code_plan->info->country_code;
    r.country_written = true;
    // Numbers of a code are read in the plan of its main region (+44 in
    // GB's also when read in Jersey's).
    r.plan = code_plan;
  } else {
    r.country_code = region.info->country_code;
    r.plan = &region;
    rest = digits;
  }
  if (rest.size() < kMinNational) return std::nullopt;
  Text national = rest;
  StripNationalPrefix(*r.plan, national);
  // Only when what is left can be a whole number: else the digits may be a
  // short number that merely looks like one with a prefix.
  const Length length = TestLength(national.size(), *r.plan);
  if (length != Length::kTooShort && length != Length::kLocalOnly && length != Length::kInvalid) {
    rest = std::move(national);
  }
  if (rest.size() < kMinNational || rest.size() > kMaxNational) return std::nullopt;
  r.national = std::move(rest);
  return r;
}

Text Without(TextView digits, size_t begin, size_t end) {
  Text out(digits.substr(0, begin));
  out += digits.substr(end);
  return out;
}

}  // namespace

const RegionInfo* FindRegion(TextView iso_code_or_english_name) {
  const auto key = tables::FoldRegionName(iso_code_or_english_name);
  if (!key || key->size() < 2) return nullptr;
  if (key->size() == 2) {
    for (size_t i = 0; i < kRegionCount; ++i) {
      if (*key == kRegions[i].code) return &kRegions[i];
    }
  }
  auto find = [](std::string_view k) -> const RegionInfo* {
    const auto* end = kRegionNames + kRegionNameCount;
    const auto* it =
        std::lower_bound(kRegionNames, end, k,
                         [](const tables::RegionName& n, std::string_view v) { return n.key < v; });
    return it != end && it->key == k ? &kRegions[it->region] : nullptr;
  };
  if (const RegionInfo* found = find(*key)) return found;
  // "The Netherlands", "the Gambia".
  if (key->size() > 5 && key->compare(0, 3, "THE") == 0)
    return find(std::string_view(*key).substr(3));
  return nullptr;
}

std::optional<PhoneNumber> Interpret(TextView written, const RegionInfo& region) {
  const auto w = TakeApart(written);
  if (!w) return std::nullopt;
  const Plan* table_plan = TablePlan(region);
  std::optional<Plan> own_plan;
  if (!table_plan) own_plan = Compile(region);
  const Plan& plan = table_plan ? *table_plan : *own_plan;
  auto reading = Read(w->plus, w->digits, plan);
  Text extension = w->extension;

  // "+44 (0)20 ...", "+39 (0)6 ...", "+34 (0)91 ...": a bracketed trunk
  // prefix after the country code goes when the number only fits without.
  if (reading && reading->country_written) {
    for (const Written::Group& g : w->brackets) {
      if (g.begin != reading->code_end) continue;
      const TextView inside = TextView(w->digits).substr(g.begin, g.end - g.begin);
      const char* trunk = reading->plan->info->national_prefix;
      if (inside != u"0" && !(*trunk && std::equal(inside.begin(), inside.end(), trunk,
                                                   trunk + std::strlen(trunk)))) {
        continue;
      }
      const auto without = Read(w->plus, Without(w->digits, g.begin, g.end), plan);
      if (without && !Fits(reading->national, *reading->plan) &&
          Fits(without->national, *without->plan)) {
        reading = without;
      }
    }
  }
  // "020 7946 0018-22": a last group after a dash that makes the number too
  // long for the plan, where the rest is a number of the plan.
  if (w->dash_tail > 0) {
    const size_t cut = w->digits.size() - w->dash_tail;
    const auto without = Read(w->plus, TextView(w->digits).substr(0, cut), plan);
    const bool too_long =
        !reading || TestLength(reading->national.size(), *reading->plan) == Length::kTooLong;
    if (too_long && without && Fits(without->national, *without->plan)) {
      reading = without;
      extension = w->digits.substr(cut);
    }
  }
  if (!reading) return std::nullopt;
  PhoneNumber out;
  out.country_code = reading->country_code;
  out.country_written = reading->country_written;
  out.national = std::move(reading->national);
  out.extension = std::move(extension);
  return out;
}

MatchTier Compare(const PhoneNumber& a, const PhoneNumber& b) {
  if (!a.extension.empty() && !b.extension.empty() && a.extension != b.extension) {
    return MatchTier::kNone;
  }
  if (a.country_written && b.country_written && a.country_code != b.country_code) {
    return MatchTier::kNone;
  }
  if (a.national == b.national) {
    return a.extension == b.extension ? MatchTier::kSame : MatchTier::kPartial;
  }
  const Text& shorter = a.national.size() < b.national.size() ? a.national : b.national;
  const Text& longer = a.national.size() < b.national.size() ? b.national : a.national;
  if (shorter.size() >= kCandidateDigits && longer.ends_with(shorter)) return MatchTier::kPartial;
  return MatchTier::kNone;
}

Text E164(const PhoneNumber& number) {
  Text out = u"+";
  out += IntegerText(number.country_code);
  out += number.national;
  return out;
}

std::optional<Text> CandidateKey(const PhoneNumber& number) {
  if (number.national.size() < kCandidateDigits) return std::nullopt;
  Text key = number.national.substr(number.national.size() - kCandidateDigits);
  std::reverse(key.begin(), key.end());
  return key;
}

}  // namespace pellory::lookup
