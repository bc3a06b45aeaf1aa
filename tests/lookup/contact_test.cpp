#include "lookup_fixture.h"
#include "plugin/records.h"
#include "plugin/text_functions.h"

namespace pellory::testing {
namespace {

class ContactRecord : public LookupTest {
 protected:
  // The contact record of the table's only row.
  Text Record() {
    Variant res(ObjectRef(db->OpenResultSet(u"select * from Client", false, 0)));
    return session().GetContact(res);
  }
};

TEST_F(ContactRecord, PersonRowGivesEveryKeyInOrder) {
  table().Add({{u"Client_Id", u"C-1"},
               {u"Name_Type", u"I"},
               {u"First_Name", u"  Anne "},
               {u"Name", u"Smith"},
               {u"Firm", u"Acme"},
               {u"TITLE", u"Buyer"},
               {u"PHONE_1", u"01234 567890"},
               {u"PHONE_1_Extension", u"MAIN"},
               {u"PHONE_2", u"01234 567891"},
               {u"PHONE_2_Extension", u"fax"},
               {u"PHONE_3", u"020 7946 0000"},
               {u"PHONE_3_Extension", u"WORK"},
               {u"PHONE_4", u"07700 900123"},
               {u"PHONE_4_Extension", u"Mobile"},
               {u"CITY", u"Leeds"},
               {u"COUNTRY", u"UK"}});
  EXPECT_EQ(Record(), S(u"Id", u"C-1") + S(u"Name", u"Anne Smith") + S(u"Company", u"Acme") +
                          S(u"Dept", u"") + S(u"Position", u"Buyer") +
                          S(u"MainTel", u"01234 567890") + S(u"Fax", u"01234 567891") +
                          S(u"Business", u"020 7946 0000") + S(u"Other", u"07700 900123") +
                          S(u"Address", u"") + S(u"Address2", u"") + S(u"Town", u"Leeds") +
                          S(u"County", u"") + S(u"PostCode", u"") + S(u"Country", u"UK"));
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(ContactRecord, NameFormsFollowTheNameType) {
  // Person with no first name: the surname alone, no leading blank.
  table().Add({{u"Client_Id", u"1"}, {u"Name_Type", u"I"}, {u"Name", u"Smith"}});
  EXPECT_TRUE(Record().starts_with(S(u"Id", u"1") + S(u"Name", u"Smith") + S(u"Company", u"")));

  // Company row and a row of no type: no "Name", the company is the name.
  for (const char16_t* type : {u"C", u"", u"i"}) {
    table().rows.clear();
    table().Add({{u"Client_Id", u"2"},
                 {u"Name_Type", type},
                 {u"Name", u"Acme Ltd"},
                 {u"Firm", u"ignored"}});
    Text rd = Record();
    EXPECT_EQ(rd.find(u"{Name("), Text::npos) << U8(type);
    EXPECT_TRUE(rd.starts_with(S(u"Id", u"2") + S(u"Company", u"Acme Ltd"))) << U8(rd);
  }
  // An empty identifier is left out; other empty values stay.
  table().rows.clear();
  table().Add({{u"Name_Type", u"C"}, {u"Name", u"Acme"}});
  Text rd = Record();
  EXPECT_TRUE(rd.starts_with(S(u"Company", u"Acme"))) << U8(rd);
  EXPECT_NE(rd.find(S(u"PostCode", u"")), Text::npos);
}

// Every combination of labels against the record built key by key with
// AddVar, where a later phone of the same key replaces the earlier entry.
TEST_F(ContactRecord, PhoneKeysAgreeWithAddVarForEveryLabelCombination) {
  const char16_t* labels[] = {u"MAIN", u"fax", u"Work", u"Home", u""};
  for (int combo = 0; combo < 625; ++combo) {
    const char16_t* chosen[4];
    for (int n = 0, k = combo; n < 4; ++n, k /= 5) chosen[n] = labels[k % 5];
    table().rows.clear();
    table().Add({{u"Client_Id", u"1"},
                 {u"Name_Type", u"C"},
                 {u"PHONE_1", u"111"},
                 {u"PHONE_1_Extension", chosen[0]},
                 {u"PHONE_2", u""},
                 {u"PHONE_2_Extension", chosen[1]},
                 {u"PHONE_3", u"333"},
                 {u"PHONE_3_Extension", chosen[2]},
                 {u"PHONE_4", u"444"},
                 {u"PHONE_4_Extension", chosen[3]}});
    Text want = S(u"Id", u"1") + S(u"Company", u"") + S(u"Dept", u"") + S(u"Position", u"");
    const char16_t* numbers[] = {u"111", u"", u"333", u"444"};
    for (int n = 0; n < 4; ++n) {
      AddVar(env, want, PhoneType(n + 1, chosen[n]), Variant(numbers[n]), true);
    }
    for (const char16_t* key :
         {u"Address", u"Address2", u"Town", u"County", u"PostCode", u"Country"}) {
      want += S(key, u"");
    }
    ASSERT_EQ(Record(), want) << combo;
  }
}

TEST_F(ContactRecord, UnreadableColumnsLeaveOnlyTheirKeysOut) {
  table().Add({{u"Client_Id", u"7"},
               {u"Name_Type", u"I"},
               {u"First_Name", u"Bo"},
               {u"Name", u"Li"},
               {u"CITY", u"Paris"}});
  table().DropColumn(u"First_Name");
  table().DropColumn(u"PHONE_2_Extension");
  Text rd = Record();
  EXPECT_EQ(rd.find(u"{Name("), Text::npos);
  EXPECT_EQ(rd.find(u"Phone2"), Text::npos);
  EXPECT_NE(rd.find(S(u"Id", u"7")), Text::npos);
  EXPECT_NE(rd.find(S(u"Town", u"Paris")), Text::npos);
  ASSERT_EQ(env.trace_file.lines.size(), 2u);
  EXPECT_NE(env.trace_file.lines[0].find(u"Item not found in this collection. @ Pell.GetContact"),
            Text::npos);

  // No current row: every key fails on its own, nothing is thrown.
  env.trace_file.lines.clear();
  auto rs = db->OpenResultSet(u"select * from Client", false, 0);
  rs->MoveNext();
  Variant res{ObjectRef(rs)};
  EXPECT_EQ(session().GetContact(res), u"");
  EXPECT_GT(env.trace_file.lines.size(), 10u);

  // Not a result set at all: one line, an empty record.
  env.trace_file.lines.clear();
  Variant nothing;
  EXPECT_EQ(session().GetContact(nothing), u"");
  EXPECT_EQ(env.trace_file.lines.size(), 1u);
}

}  // namespace
}  // namespace pellory::testing
