// What the lookup commands (find, serve) read out of the replies of a
// contact search: the keys of a contact record and of a list entry, the name
// a person reads, and the company of a number several contacts share.
#pragma once

#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/text.h"

namespace pellory::cli {

// The keys of a contact record and of a list entry, in the order the JSON
// answers give them.
inline constexpr const char16_t* kContactKeys[] = {
    u"Id",      u"Name",     u"Company", u"Dept",   u"Position", u"MainTel",
    u"Fax",     u"Business", u"Phone1",  u"Phone2", u"Phone3",   u"Other",
    u"Address", u"Address2", u"Town",    u"County", u"PostCode", u"Country"};
inline constexpr const char16_t* kEntryKeys[] = {u"Name",    u"Company", u"Id",   u"Phone 1",
                                                 u"Phone 2", u"Phone 3", u"Other"};

// A whole-number entry of a reply (0 when absent).
int ReplyNumber(Env& env, TextView rd, const char16_t* key);

// What a person reads as the contact's name: the person's name, else the
// company's.
Text DisplayName(Env& env, TextView rd);

// The list entries of a list search's reply, in order.
std::vector<Text> ListEntries(Env& env, TextView reply);

// The company all of `entries` name, when they name one (letter case and
// blanks around it aside); empty otherwise.
Text SharedCompany(Env& env, const std::vector<Text>& entries);

// Whether a caller ID holds a number at all: withheld, "anonymous" and the
// like hold no digit.
bool HoldsDigits(const std::string& tel);

}  // namespace pellory::cli
