// Numbers found in any written form: the settings and the pieces of a
// number search's second step. When a search for "Tel" finds no stored
// number with the same digits, the step reads the dialled number in the
// home region's numbering plan, fetches the contacts whose telephone fields
// end in its last 7 national digits (the candidates), reads each of their
// numbers in the contact's own country and keeps the contacts whose number
// is the same line (MatchTier::kSame) or, failing any, nearly so
// (kPartial). find.cpp runs it.
#pragma once

#include <optional>

#include "lookup/phone_number.h"
#include "platform/env.h"

namespace pellory::lookup {

// The settings record's "NumberMatch" ("Exact", the default, or "Any") and
// "Region" (the home country's ISO 3166-1 code; the locale's territory
// when absent or empty).
struct NumberMatch {
  bool any_format = false;
  // The home region; null when neither the setting nor the locale names
  // one.
  const RegionInfo* home = nullptr;
};

// Reads the two settings from `data_rd`. A value it cannot use goes to the
// trace log (under `tag`) and the default is taken. "Region" is read only
// for "Any".
NumberMatch ReadNumberMatch(Env& env, TextView data_rd, TextView tag);

// `written` read in `region`, the region's country code taken as the
// number's own where the text writes none: a number read at home is a home
// number, a contact's number one of the contact's country. Without a region
// only a number that writes its country code ("+49 ...") can be read.
std::optional<PhoneNumber> ReadNumber(TextView written, const RegionInfo* region);

// The dialled number as the second step reads it: the number and its
// candidate key, or why the step has nothing to look for.
struct Dialled {
  std::optional<PhoneNumber> number;
  Text key;  // the candidate key; empty when there is none
  Text e164;
  const char16_t* why = u"";  // when there is no key
};
Dialled ReadDialled(TextView written, const RegionInfo* home);

// The where clause that selects the candidates: the enabled reversed
// columns that begin with `key`. File mode asks for a range of each
// ("Reverse_Phone_1 >= 'K' and Reverse_Phone_1 < 'K:'"; ':' follows '9',
// and every character a reversed column holds sorts before it in the
// address book's binary order). A SQL server (`prefix_like`) is asked for
// "Reverse_Phone_1 like 'K%'" instead, which holds in any collation (a
// language's collation may pass over the colon); the key is digits only,
// so it holds no wildcard.
Text CandidateSelection(TextView key, const bool (&search_phone)[4], bool prefix_like = false);

// A stored number as the second step reads it: PHONE_n in the contact's
// region, with the digits of PHONE_n_Extension as its extension when that
// column holds digits alone (it usually holds the number's label, MAIN or
// FAX, which says nothing about the line) and the number itself names none.
std::optional<PhoneNumber> ReadStored(TextView phone, TextView extension_column,
                                      const RegionInfo* region);

// The region of a contact: its COUNTRY column (an English name or an ISO
// code), else `home`.
const RegionInfo* ContactRegion(TextView country, const RegionInfo* home);

// The reply's "Match" for a tier: "Same", "Partial" ("None" for kNone).
const char16_t* TierName(MatchTier tier);

}  // namespace pellory::lookup
