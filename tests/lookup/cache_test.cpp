#include "lookup_fixture.h"
#include "plugin/records.h"

namespace pellory::testing {
namespace {

class Cache : public LookupTest {
 protected:
  void ThreeContacts() {
    table()
        .Add({{u"Client_Id", u"1"},
              {u"Name_Type", u"I"},
              {u"First_Name", u"Anne"},
              {u"Name", u"Smith"}})
        .Add({{u"Client_Id", u"2"}, {u"Name_Type", u"C"}, {u"Name", u"Acme"}})
        .Add({{u"Client_Id", u"3"}, {u"Name", u"Zed"}, {u"ZIP_CODE", u"LS1 4AP"}});
  }
  Text ContactOf(size_t row) {
    Variant res{ObjectRef(std::make_shared<FakeResultSet>(db->table, std::vector<size_t>{row}, 0))};
    return session().GetContact(res);
  }
  Text Success(size_t row) { return S(u"Result", u"Success") + S(u"Fields", ContactOf(row)); }
};

TEST_F(Cache, FileModeExportsEveryContactInTableOrder) {
  ThreeContacts();
  FileMode();
  EXPECT_EQ(session().CacheStart(), N(u"Records", u"3"));
  ASSERT_EQ(db->statements.size(), 1u);
  EXPECT_EQ(db->statements[0], u"select * from Client");
  EXPECT_FALSE(db->async[0]);
  for (size_t row = 0; row < 3; ++row) EXPECT_EQ(session().CacheRecord(), Success(row));
  EXPECT_EQ(session().CacheRecord(), S(u"Result", u"Eof"));
  // After the end the answer stays "Eof".
  EXPECT_EQ(session().CacheRecord(), S(u"Result", u"Eof"));
  EXPECT_TRUE(env.trace_file.lines.empty());

  // A start in the middle begins again from the first contact. Each
  // "Fields" value reads like any record, empty values present.
  session().CacheStart();
  session().CacheRecord();
  EXPECT_EQ(session().CacheRecord(), Success(1));
  EXPECT_EQ(session().CacheStart(), N(u"Records", u"3"));
  EXPECT_EQ(session().CacheRecord(), Success(0));
  session().CacheRecord();
  Text fields = GetText(env, session().CacheRecord(), u"Fields");
  EXPECT_EQ(GetText(env, fields, u"PostCode"), u"LS1 4AP");
  EXPECT_NE(fields.find(S(u"Dept", u"")), Text::npos);

  // CacheEnd lets the result set go; CacheRecord then replies nothing until
  // the next start.
  session().CacheStart();
  const int live = FakeResultSet::live;
  EXPECT_EQ(session().CacheEnd(), u"");
  EXPECT_EQ(FakeResultSet::live, live - 1);
  EXPECT_EQ(session().CacheRecord(), u"");
  EXPECT_EQ(session().CacheRecord(), u"");
  session().CacheStart();
  EXPECT_EQ(session().CacheRecord(), Success(0));
}

TEST_F(Cache, SqlModeReportsNoCount) {
  ThreeContacts();
  SqlMode();
  EXPECT_EQ(session().CacheStart(), N(u"Records", u"-1"));
  EXPECT_EQ(db->statements[0], u"Select " + Text(lookup::kColumnList) + u" from dbo.Client");
  EXPECT_EQ(session().CacheRecord(), Success(0));
  // A search works on the contact recordset and leaves the export alone.
  session().FindContact(u"{Tel=1}");
  EXPECT_EQ(session().CacheRecord(), Success(1));
}

TEST_F(Cache, WithoutAnOpenExportTheHostHearsWhy) {
  const Text no_recordset = S(u"Result", u"Fail") + S(u"Reason", u"No recordset: Client");
  ThreeContacts();
  FileMode();
  // Before any CacheStart.
  EXPECT_EQ(session().CacheRecord(), no_recordset);

  // A start whose statement does not open.
  db->fail_open = true;
  EXPECT_EQ(session().CacheStart(), no_recordset);
  EXPECT_EQ(session().CacheRecord(), no_recordset);
  ASSERT_EQ(env.trace_file.lines.size(), 1u);
  EXPECT_TRUE(env.trace_file.lines[0].ends_with(u" @ Pell.CacheRecordReal"));

  // With "Timeout" set the statement has that long to open; one that does
  // not is a failure that says so, not the end of the export.
  db->fail_open = false;
  timeout = 5;
  FileMode();
  db->open_times_out = true;
  EXPECT_EQ(session().CacheStart(), S(u"Result", u"Fail") + S(u"Reason", u"Timeout"));
  EXPECT_EQ(db->time_limits.back(), 5);
  EXPECT_EQ(session().CacheRecord(), no_recordset);
  ASSERT_EQ(env.trace_file.lines.size(), 2u);
  EXPECT_TRUE(env.trace_file.lines[1].ends_with(u"    @ Timeout after 5 s @ Pell.CacheRecordReal"));
  db->open_times_out = false;
  EXPECT_EQ(session().CacheStart(), N(u"Records", u"3"));

  // An empty table: no record, then "Eof".
  table().rows.clear();
  EXPECT_EQ(session().CacheStart(), N(u"Records", u"0"));
  EXPECT_EQ(session().CacheRecord(), S(u"Result", u"Eof"));
}

TEST_F(Cache, StartLoadsASessionThatWasNeverLoaded) {
  ThreeContacts();
  connects.target = nullptr;  // the load fails
  EXPECT_EQ(session().CacheStart(), S(u"Result", u"Fail") + S(u"Reason", u"No recordset: Client"));
  EXPECT_EQ(connects.count, 1);
  EXPECT_TRUE(crm().load_failed());

  connects.target = db;
  EXPECT_EQ(session().CacheStart(), N(u"Records", u"3"));
  EXPECT_EQ(connects.count, 2);
  EXPECT_FALSE(crm().load_failed());
  EXPECT_EQ(session().CacheRecord(), Success(0));
}

}  // namespace
}  // namespace pellory::testing
