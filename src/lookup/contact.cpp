#include <cstring>

#include "lookup/columns.h"
#include "lookup/lookup.h"
#include "plugin/records.h"
#include "plugin/text_functions.h"
#include "plugin/trap.h"

namespace pellory::lookup {
namespace {

constexpr Column kPhoneColumns[4] = {kPhone1, kPhone2, kPhone3, kPhone4};
constexpr Column kLabelColumns[4] = {kPhone1Ext, kPhone2Ext, kPhone3Ext, kPhone4Ext};

// Keys are views whose lengths are known when compiled: a record is written
// for every row of an export.
struct AddressKey {
  TextView key;
  Column column;
};
constexpr AddressKey kAddressKeys[] = {{u"Address", kAddress1}, {u"Address2", kAddress2},
                                       {u"Town", kCity},        {u"County", kState},
                                       {u"PostCode", kZip},     {u"Country", kCountry}};

// PhoneType's key for phone n (0 to 3), one of a fixed set of texts, so
// that nothing is allocated per row.
TextView PhoneKey(int n, TextView label) {
  static constexpr TextView kOthers[4] = {u"Phone1", u"Phone2", u"Phone3", u"Other"};
  if (EqualsNoCase(label, u"MAIN")) return u"MainTel";
  if (EqualsNoCase(label, u"FAX")) return u"Fax";
  if (EqualsNoCase(label, u"WORK")) return u"Business";
  return kOthers[n];
}

}  // namespace

void AppendEntry(Text& rd, TextView name, TextView value) {
  char16_t digits[20];
  size_t n = 0;
  for (size_t length = value.size(); n == 0 || length > 0; length /= 10) {
    digits[n++] = static_cast<char16_t>(u'0' + length % 10);
  }
  // Written in place: one size check for the whole entry.
  const size_t at = rd.size();
  rd.resize(at + name.size() + n + value.size() + 6);
  char16_t* p = rd.data() + at;
  auto put = [&p](TextView part) {
    if (!part.empty()) std::memcpy(p, part.data(), part.size() * sizeof(char16_t));
    p += part.size();
  };
  *p++ = u'{';
  put(name);
  *p++ = u'(';
  *p++ = u'S';
  while (n > 0) *p++ = digits[--n];
  *p++ = u')';
  *p++ = u'=';
  put(value);
  *p = u'}';
}

// The record is written entry by entry as AddVar would write it. Its keys are
// distinct, except that two phones can get the same key from their labels;
// there the later phone's entry replaces the earlier one at the later place,
// again as AddVar does.
Text BuildContact(Env& env, ResultSet& rs, const Columns& c) {
  Text rd;
  rd.reserve(512);
  BuildContact(env, rs, c, rd);
  return rd;
}

void BuildContact(Env& env, ResultSet& rs, const Columns& c, Text& rd) {
  // The tag as a view measured when compiled, not at every step.
  static constexpr TextView kTag = tags::kGetContact;
  auto step = [&](auto&& body) { Trap(env, kTag, body); };
  // The values are read as views of the current row: nothing is copied
  // but into the record.
  auto set = [&](TextView key, Column column) {
    step([&] { AppendEntry(rd, key, c.View(rs, column)); });
  };

  step([&] {
    const TextView id = c.View(rs, kClientId);
    if (!id.empty()) AppendEntry(rd, u"Id", id);
  });
  bool person = false;
  step([&] { person = c.View(rs, kNameType) == u"I"; });
  if (person) {
    step([&] {
      thread_local Text name;
      name.assign(TrimView(c.View(rs, kFirstName)));
      name += u' ';
      name += c.View(rs, kName);
      AppendEntry(rd, u"Name", TrimView(name));
    });
    set(u"Company", kFirm);
  } else {
    set(u"Company", kName);
  }
  set(u"Dept", kDepartment);
  set(u"Position", kTitle);

  struct Phone {
    bool read = false;
    TextView key;
    TextView number;
  };
  Phone phones[4];
  for (int n = 0; n < 4; ++n) {
    step([&] {
      phones[n].key = PhoneKey(n, c.View(rs, kLabelColumns[n]));
      phones[n].number = c.View(rs, kPhoneColumns[n]);
      phones[n].read = true;
    });
  }
  for (int n = 0; n < 4; ++n) {
    if (!phones[n].read) continue;
    bool replaced = false;
    for (int later = n + 1; later < 4; ++later) {
      replaced = replaced || (phones[later].read && phones[later].key == phones[n].key);
    }
    if (!replaced) AppendEntry(rd, phones[n].key, phones[n].number);
  }
  for (const AddressKey& a : kAddressKeys) set(a.key, a.column);
}

const Columns& ColumnsFor(const ResultSetRef& rs) {
  struct Remembered {
    std::weak_ptr<ResultSet> rs;
    Columns columns;
  };
  thread_local Remembered last;
  if (last.rs.lock() != rs) {
    last.columns = Columns::Of(*rs);
    last.rs = rs;
  }
  return last.columns;
}

Text Lookup::GetContact(Variant& res) {
  Text rd;
  Trap(env_, tags::kGetContact, [&] {
    ResultSetRef rs = res.object_as<ResultSet>();
    if (!rs) throw Failure(u"Object required", 424);
    rd = BuildContact(env_, *rs, ColumnsFor(rs));
  });
  return rd;
}

}  // namespace pellory::lookup
