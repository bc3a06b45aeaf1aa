// Positions of the contact-table columns in one result set, looked up once
// per result set so that scanning rows does no name lookups.
#pragma once

#include <array>

#include "platform/database.h"
#include "platform/env.h"
#include "platform/failure.h"

namespace pellory::lookup {

enum Column : int {
  kClientId,
  kNameType,
  kFirstName,
  kFirm,
  kName,
  kDepartment,
  kTitle,
  kPhone1Ext,
  kPhone1,
  kPhone2Ext,
  kPhone2,
  kPhone3,
  kPhone3Ext,
  kPhone4,
  kPhone4Ext,
  kReversePhone1,
  kReversePhone2,
  kReversePhone3,
  kReversePhone4,
  kAddress1,
  kAddress2,
  kCity,
  kState,
  kZip,
  kCountry,
  kColumnCount
};

inline constexpr std::array<const char16_t*, kColumnCount> kColumnNames = {u"Client_ID",
                                                                           u"Name_Type",
                                                                           u"First_Name",
                                                                           u"Firm",
                                                                           u"Name",
                                                                           u"DEPARTMENT",
                                                                           u"TITLE",
                                                                           u"PHONE_1_Extension",
                                                                           u"PHONE_1",
                                                                           u"PHONE_2_Extension",
                                                                           u"PHONE_2",
                                                                           u"PHONE_3",
                                                                           u"PHONE_3_Extension",
                                                                           u"PHONE_4",
                                                                           u"PHONE_4_Extension",
                                                                           u"Reverse_Phone_1",
                                                                           u"Reverse_Phone_2",
                                                                           u"Reverse_Phone_3",
                                                                           u"Reverse_Phone_4",
                                                                           u"ADDRESS_Line_1",
                                                                           u"ADDRESS_Line_2",
                                                                           u"CITY",
                                                                           u"STATE_PROVINCE",
                                                                           u"ZIP_CODE",
                                                                           u"COUNTRY"};

struct Columns {
  std::array<int, kColumnCount> index{};

  static Columns Of(ResultSet& rs) {
    Columns c;
    for (int i = 0; i < kColumnCount; ++i) c.index[i] = rs.ColumnIndex(kColumnNames[i]);
    return c;
  }

  // Throws when the result set lacks one of the contact table's columns: a
  // table that does not hold them is no contact table the lookup can trust.
  void RequireAll() const {
    for (int i = 0; i < kColumnCount; ++i) {
      if (index[i] < 0) {
        throw Failure(u"The contact table has no column " + Text(kColumnNames[i]), 3265);
      }
    }
  }

  // The current row's value; fails as a lookup by name does when the result
  // set has no such column.
  const Text& Read(ResultSet& rs, Column column) const {
    int i = index[column];
    if (i < 0) throw Failure(u"Item not found in this collection.", 3265);
    return rs.Value(i);
  }
  // The same as a view, valid until the next move.
  TextView View(ResultSet& rs, Column column) const {
    int i = index[column];
    if (i < 0) throw Failure(u"Item not found in this collection.", 3265);
    return rs.View(i);
  }
};

// Appends the text entry "{name(S<length>)=value}": what AddVar writes for a
// text value on a record that holds no entry of that name.
void AppendEntry(Text& rd, TextView name, TextView value);

// The contact record of the current row, built key by key; a key whose
// column cannot be read is left out and logged under the GetContact tag.
Text BuildContact(Env& env, ResultSet& rs, const Columns& columns);
// The same, appended to `rd`.
void BuildContact(Env& env, ResultSet& rs, const Columns& columns, Text& rd);

// Columns of `rs`, remembered for the last result set seen on this thread,
// so that exporting row after row looks the names up only once.
const Columns& ColumnsFor(const ResultSetRef& rs);

}  // namespace pellory::lookup
