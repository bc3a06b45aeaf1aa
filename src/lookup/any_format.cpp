#include "lookup/any_format.h"

#include "lookup/lookup.h"
#include "plugin/records.h"
#include "plugin/text_functions.h"
#include "plugin/trace_log.h"
#include "plugin/trap.h"

namespace pellory::lookup {
namespace {

// The longest extension column taken as an extension: longer runs of
// digits are no extension anyone dials.
constexpr size_t kMaxExtensionColumn = 8;

// A region a home can be: none of the non-geographic codes (+800 ...).
const RegionInfo* HomeRegion(TextView text) {
  const RegionInfo* region = FindRegion(text);
  return region && *region->name ? region : nullptr;
}

// Whether `written` writes its country code: a plus sign before its first
// digit.
bool WritesCountryCode(TextView written) {
  for (char16_t c : written) {
    if (c == u'+' || c == 0xFF0B) return true;
    if ((c >= u'0' && c <= u'9') || (c >= 0xFF10 && c <= 0xFF19)) return false;
  }
  return false;
}

bool AllDigits(TextView text) {
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return !text.empty();
}

}  // namespace

NumberMatch ReadNumberMatch(Env& env, TextView data_rd, TextView tag) {
  NumberMatch m;
  Trap(env, tag, [&] {
    const Text value = GetText(env, data_rd, u"NumberMatch");
    const Text mode = UpperCase(Trim(value));
    if (mode == u"ANY") {
      m.any_format = true;
    } else if (!mode.empty() && mode != u"EXACT") {
      LogError(env,
               u"NumberMatch " + value + u" is neither Exact nor Any: Exact is used" + Text(tag));
    }
  });
  if (!m.any_format) return m;
  Trap(env, tag, [&] {
    const Text value = Trim(GetText(env, data_rd, u"Region"));
    if (value.empty()) return;
    m.home = HomeRegion(value);
    if (!m.home) {
      LogError(env, u"Region " + value + u" names no country: the locale's is used" + Text(tag));
    }
  });
  if (m.home) return m;
  Trap(env, tag, [&] {
    const Text territory = env.regional().Territory();
    if (!territory.empty()) m.home = HomeRegion(territory);
  });
  return m;
}

std::optional<PhoneNumber> ReadNumber(TextView written, const RegionInfo* region) {
  if (!region) {
    if (!WritesCountryCode(written)) return std::nullopt;
    // A number with its country code reads alike in every region (GB's
    // international prefix, the ITU's 00, also takes "+00 44 ...").
    static const RegionInfo* const any = FindRegion(u"GB");
    region = any;
  }
  std::optional<PhoneNumber> number = Interpret(written, *region);
  if (number) number->country_written = true;
  return number;
}

Dialled ReadDialled(TextView written, const RegionInfo* home) {
  Dialled d;
  d.number = ReadNumber(written, home);
  if (!d.number) {
    d.why = home || WritesCountryCode(written) ? u"not a telephone number"
                                               : u"no home region for a number without "
                                                 u"its country code";
    return d;
  }
  d.e164 = E164(*d.number);
  if (const auto key = CandidateKey(*d.number)) {
    d.key = *key;
  } else {
    d.why = u"fewer than 7 digits";
  }
  return d;
}

Text CandidateSelection(TextView key, const bool (&search_phone)[4], bool prefix_like) {
  const Text quoted = QuoteDoubled(key);
  Text selection;
  for (int n = 0; n < 4; ++n) {
    if (!search_phone[n]) continue;
    const Text column = u"Reverse_Phone_" + IntegerText(n + 1);
    if (!selection.empty()) selection += u" or ";
    if (prefix_like) {
      selection += column + u" like '" + quoted + u"%'";
    } else {
      selection +=
          u"(" + column + u" >= '" + quoted + u"' and " + column + u" < '" + quoted + u":')";
    }
  }
  return selection;
}

std::optional<PhoneNumber> ReadStored(TextView phone, TextView extension_column,
                                      const RegionInfo* region) {
  std::optional<PhoneNumber> number = ReadNumber(phone, region);
  if (!number || !number->extension.empty()) return number;
  const Text extension = Trim(extension_column);
  if (extension.size() <= kMaxExtensionColumn && AllDigits(extension)) {
    number->extension = extension;
  }
  return number;
}

const RegionInfo* ContactRegion(TextView country, const RegionInfo* home) {
  if (const RegionInfo* region = HomeRegion(country)) return region;
  return home;
}

const char16_t* TierName(MatchTier tier) {
  switch (tier) {
    case MatchTier::kSame:
      return u"Same";
    case MatchTier::kPartial:
      return u"Partial";
    case MatchTier::kNone:
      break;
  }
  return u"None";
}

}  // namespace pellory::lookup
