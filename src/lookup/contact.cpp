#include "lookup/columns.h"
#include "lookup/lookup.h"
#include "plugin/records.h"
#include "plugin/text_functions.h"
#include "plugin/trap.h"

namespace pellory::lookup {
namespace {

constexpr Column kPhoneColumns[4] = {kPhone1, kPhone2, kPhone3, kPhone4};
constexpr Column kLabelColumns[4] = {kPhone1Ext, kPhone2Ext, kPhone3Ext, kPhone4Ext};

struct AddressKey {
  const char16_t* key;
  Column column;
};
constexpr AddressKey kAddressKeys[] = {{u"Address", kAddress1}, {u"Address2", kAddress2},
                                       {u"Town", kCity},        {u"County", kState},
                                       {u"PostCode", kZip},     {u"Country", kCountry}};

}  // namespace

Text BuildContact(Env& env, ResultSet& rs, const Columns& c) {
  Text rd;
  rd.reserve(512);
  auto step = [&](auto&& body) { Trap(env, kGetContactTag, body); };
  auto set = [&](const char16_t* key, Column column) {
    step([&] { AddVar(env, rd, key, Variant(TextView(c.Read(rs, column))), true); });
  };

  step([&] { AddVar(env, rd, u"Id", Variant(TextView(c.Read(rs, kClientId)))); });
  bool person = false;
  step([&] { person = c.Read(rs, kNameType) == u"I"; });
  if (person) {
    step([&] {
      Text name = Trim(c.Read(rs, kFirstName));
      name += u' ';
      name += c.Read(rs, kName);
      AddVar(env, rd, u"Name", Variant(Trim(name)), true);
    });
    set(u"Company", kFirm);
  } else {
    set(u"Company", kName);
  }
  set(u"Dept", kDepartment);
  set(u"Position", kTitle);
  for (int n = 0; n < 4; ++n) {
    step([&] {
      Text key = PhoneType(n + 1, c.Read(rs, kLabelColumns[n]));
      AddVar(env, rd, key, Variant(TextView(c.Read(rs, kPhoneColumns[n]))), true);
    });
  }
  for (const AddressKey& a : kAddressKeys) set(a.key, a.column);
  return rd;
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

Text GetContact(Session& session, Variant& res) {
  Env& env = session.env();
  Text rd;
  Trap(env, kGetContactTag, [&] {
    ResultSetRef rs = res.object_as<ResultSet>();
    if (!rs) throw Failure(u"Object required", 424);
    rd = BuildContact(env, *rs, ColumnsFor(rs));
  });
  return rd;
}

}  // namespace pellory::lookup
