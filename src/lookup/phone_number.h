// Telephone numbers in any written form: what a number means in a region's
// numbering plan, and whether two numbers are the same line.
//
// The numbering plans come from the tables in phone_regions.cpp, one row
// per region (see RegionInfo). A number is read the way the region's people
// dial it: "+" or the region's international prefix before a country
// calling code, the region's trunk prefix before a national number, an
// extension behind a mark ("x", "ext", ";ext=", "#") at the end.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace pellory::lookup {

// One region's numbering plan. The patterns are regular expressions over
// digits (phone_pattern.h).
struct RegionInfo {
  const char* code;      // ISO 3166-1 alpha-2 ("GB"); "001" for the non-geographic codes
  const char16_t* name;  // English name ("United Kingdom"); empty for "001"
  uint16_t country_code;
  // The region whose plan reads "+<country code>" numbers (GB for +44, US
  // for +1), or the only region of its code.
  bool main_for_code;
  uint32_t possible_lengths;         // bit n: national numbers of n digits exist
  uint32_t local_lengths;            // bit n: n digits, dialled only inside an area
  const char* international_prefix;  // pattern: "00", "011", "810", "0(?:0|1[2-9])"
  const char* national_prefix;       // the trunk prefix as dialled: "0", "06", "8"; may be empty
  // What precedes a national number when dialled at home (pattern), and
  // what it is replaced with ("$1": the first group; empty: removed).
  const char* national_prefix_for_parsing;
  const char* national_prefix_transform;
  const char* number_pattern;  // every national number of the plan
};

// A number as written, interpreted.
struct PhoneNumber {
  // The country calling code: the one written, or the region's.
  uint16_t country_code = 0;
  // The text carried the country code ("+44", "0044", "44 20 ..."), rather
  // than taking it from the region it was read in.
  bool country_written = false;
  Text national;   // national significant number: digits, without trunk prefix
  Text extension;  // digits; empty when none

  bool operator==(const PhoneNumber&) const = default;
};

enum class MatchTier { kNone, kPartial, kSame };

// The region named by an ISO 3166-1 code (alpha-2 "GB" or alpha-3 "GBR")
// or an English name ("United Kingdom", "UK", "Great Britain", "Côte
// d'Ivoire", "Cote d Ivoire", "Bosnia and Herzegovina"): case, accents,
// blanks and punctuation aside, blanks trimmed. nullptr when unknown.
const RegionInfo* FindRegion(TextView iso_code_or_english_name);

// `written` read in `region`. Separators (blanks, dots, dashes, slashes,
// brackets, "x" as in Brazil's "0xx21") are ignored, and so is text before
// the first digit or "+" ("Tel: ", "tel:"; a "tel:" URI's phone-context
// goes in front). Digits may be fullwidth or Arabic-Indic. nullopt for
// anything that is no telephone number: fewer than 3 digits (but for two
// alone), letters other than an extension label (vanity numbers such as
// "0800 CALL NOW" included), a plus sign inside, a country code that does
// not exist, a national number of fewer than 2 or more than 17 digits, a
// text longer than 250 characters.
//
// - "+" (or "++"), or the region's international prefix, starts a country
//   code; so do the region's own country code digits when the number only
//   fits the plan with them read that way ("442079460018" in GB).
// - The trunk prefix is dropped the way the plan says ("020..." in GB,
//   "06 1..." in HU, "8 495..." in RU), also after a country code
//   ("+44 (0)20..."). A "(0)" or bracketed trunk prefix right after a
//   country code whose plan keeps a leading 0 stays ("+39 (0)6..." is
//   06...), unless the number only fits the plan without it.
// - An extension follows "x", "ext", "ext.", "extn", "extension", "#",
//   ";ext=", ",," or ";", or is a number ending in "#" after a dash or
//   blank ("- 123#"); a label without digits after it is dropped. A last group after a dash ("-22")
//   is an extension only where the whole is longer than any number of the plan and the rest is a
//   number of the plan ("020 7946 0018-22" in GB); where the plan has numbers that long it is part
//   of the number ("030 1234567-22" in DE, where extensions are dialled straight through).
std::optional<PhoneNumber> Interpret(TextView written, const RegionInfo& region);

// kSame: the same country code (or one side has none written), the same
// national number and the same extension (or none on either side).
// kPartial: the country codes as for kSame, and either the same national
// number with an extension on one side only (a stored extension), or one
// national number ends with the other, which has at least 7 digits (a
// missing area code).
// kNone otherwise, and always when both sides have different extensions.
MatchTier Compare(const PhoneNumber& a, const PhoneNumber& b);

// "+<country code><national number>", e.g. "+442079460018"; the extension
// is not part of it.
Text E164(const PhoneNumber& number);

// The candidate key of a number: the last 7 digits of its national number,
// reversed ("8100649" for 20 7946 0018). nullopt for fewer than 7 digits.
std::optional<Text> CandidateKey(const PhoneNumber& number);

}  // namespace pellory::lookup
