// Contact lookup: the working methods behind FindContact / FindList
// (FindReal), the contact record (GetContact) and the cache export
// (CacheRecordReal).
#pragma once

#include "plugin/session.h"
#include "plugin/trace_tags.h"

namespace pellory::lookup {

// The 25 columns read in SQL mode, by the searches and by the cache export.
inline constexpr char16_t kColumnList[] =
    u"Client_ID, Name_Type, First_Name, Firm, Name, DEPARTMENT, TITLE, PHONE_1_Extension, "
    u"PHONE_1, PHONE_2_Extension, PHONE_2, PHONE_3, PHONE_3_Extension, PHONE_4, "
    u"PHONE_4_Extension, Reverse_Phone_1, Reverse_Phone_2, Reverse_Phone_3, Reverse_Phone_4, "
    u"ADDRESS_Line_1, ADDRESS_Line_2, CITY, STATE_PROVINCE, ZIP_CODE, COUNTRY";

// Working methods, as wired into the Session's logic table.
Text FindReal(Session& session, Text rd);
Text GetContact(Session& session, Variant& res);
Text CacheRecordReal(Session& session);

// `value` with every single quote doubled, for use between single quotes in
// a statement. Text without quotes comes back unchanged.
Text QuoteDoubled(TextView value);

// The most entries of a list search: "MaxFind" read as a 16-bit whole
// number, values beyond that range clamped to it. Throws Failure when the
// value is not a number.
int16_t MaxFindValue(const Variant& value);

}  // namespace pellory::lookup
