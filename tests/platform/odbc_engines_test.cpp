// The ODBC engines against a real driver manager and the SQLite ODBC
// driver, with private data-source files.
#include "platform/odbc/odbc_engines.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "support/crmdb_odbc.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"

namespace pellory::testing {
namespace {

class OdbcEnginesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = (odbc_.Dir() / "contacts.db").string();
    std::string err = ExecSql("Driver={SQLite3 ODBC Driver};Database=" + db_,
                              {"create table Accounts (Id integer)",
                               "create table CLIENT (Client_Id varchar(12), Name varchar(5), "
                               "Notes text, Phone_1 varchar(20))",
                               "create table Client_Notes (Client_Id varchar(12))",
                               "insert into CLIENT values ('C1', 'Smith', null, '01234 567890')",
                               "insert into CLIENT values ('C2', 'Björk-Guðmundsdóttir', "
                               "'東京 ' || hex(randomblob(3000)), null)",
                               "insert into CLIENT values ('C3', 'Li', '', '+44')"});
    ASSERT_EQ(err, "");
  }

  Text Connect() const { return T(("Driver={SQLite3 ODBC Driver};Database=" + db_).c_str()); }

  OdbcSandbox odbc_;
  std::string db_;
  OdbcEngines engines_;
};

TEST_F(OdbcEnginesTest, ReadsRowsByColumnNameWithNullsAndLongValues) {
  auto rdo = engines_.CreateRdoEngine();
  for (bool async : {false, true}) {
    // Bound columns, then (for drivers that need it) every value fetched
    // on its own.
    if (async) ::setenv("PELLORY_ODBC_NO_BINDING", "1", 1);
    ConnectionRef conn = rdo->OpenConnection(u"ODBC;", PromptMode::kNoPrompt, false, Connect(), 0);
    ResultSetRef rs = conn->OpenResultSet(u"select * from CLIENT order by Client_Id", async, 0);
    while (rs->StillExecuting()) {
    }
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Field(u"client_id"), u"C1");
    EXPECT_EQ(rs->Field(u"NOTES"), u"");  // null reads as empty
    EXPECT_EQ(rs->Field(u"Phone_1"), u"01234 567890");
    rs->MoveNext();
    // Longer than the declared varchar(5), and far longer than any buffer
    // sized from the declaration.
    EXPECT_EQ(rs->Field(u"Name"), u"Björk-Guðmundsdóttir");
    const Text& notes = rs->Field(u"Notes");
    EXPECT_EQ(notes.size(), 3u + 6000u);
    EXPECT_EQ(notes.substr(0, 3), u"東京 ");
    EXPECT_EQ(rs->Field(u"Phone_1"), u"");
    rs->MoveNext();
    EXPECT_EQ(rs->Field(u"Name"), u"Li");
    EXPECT_EQ(rs->Field(u"Notes"), u"");
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
    EXPECT_THROW(rs->Value(0), Failure);
    EXPECT_THROW(rs->MoveNext(), Failure);
    rs->MoveFirst();
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Field(u"Client_ID"), u"C1");
    try {
      rs->Field(u"Missing");
      ADD_FAILURE();
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), kItemNotFound);
    }
  }
  ::unsetenv("PELLORY_ODBC_NO_BINDING");
}

TEST_F(OdbcEnginesTest, ListsTablesInTheDriversOrder) {
  auto rdo = engines_.CreateRdoEngine();
  ConnectionRef conn = rdo->OpenConnection(u"ODBC;", PromptMode::kNoPrompt, false, Connect(), 0);
  ASSERT_EQ(conn->TableCount(), 3);
  EXPECT_EQ(conn->TableName(0), u"Accounts");
  EXPECT_EQ(conn->TableName(1), u"CLIENT");
  EXPECT_EQ(conn->TableName(2), u"Client_Notes");
  EXPECT_THROW(conn->TableName(3), Failure);
  ResultSetRef empty = conn->OpenResultSet(u"select Client_Id from Client_Notes", false, 0);
  EXPECT_TRUE(empty->Eof());
  EXPECT_THROW(conn->OpenResultSet(u"select Client_Id from Accounts", false, 0), Failure);
}

TEST_F(OdbcEnginesTest, WorkspaceOpensReadOnlyAndMasksPasswordsInFailures) {
  auto dao = engines_.CreateDaoEngine();
  WorkspaceRef ws = dao->CreateWorkspace(u"ODBCWorkspace", u"admin", u"", kDbUseOdbc);
  dao->AppendWorkspace(ws);
  try {
    dao->AppendWorkspace(dao->CreateWorkspace(u"ODBCWorkspace", u"admin", u"", kDbUseOdbc));
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), kNameInCollection);
  }
  EXPECT_THROW(dao->CreateWorkspace(u"Jet", u"admin", u"", 2), Failure);

  DatabaseRef db = ws->OpenDatabase(u"", true, u"ODBC;" + Connect(), 0);
  EXPECT_EQ(db->OpenResultSet(u"select * from CLIENT", false, 0)->Field(u"Name"), u"Smith");
  try {
    ws->OpenDatabase(u"", true, u"ODBC;DSN=Nowhere;uid=MASTER;pwd=Hunter2;", 0);
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_NE(f.number(), kRdoDataSourceNotFound);
    EXPECT_EQ(f.description().find(u"Hunter2"), Text::npos) << U8(f.description());
  }
}

TEST_F(OdbcEnginesTest, PromptPicksTheSourceOrCancels) {
  auto dao = engines_.CreateDaoEngine();
  dao->RegisterDatabase(u"Picked", u"SQLite3 ODBC Driver", true,
                        u"Database=" + T(db_.c_str()) + u"\rDescription=Contacts here");
  std::vector<DataSourceInfo> seen;
  std::optional<Text> answer = u"DSN=Picked";
  OdbcEngines prompting([&](const std::vector<DataSourceInfo>& list) {
    seen = list;
    return answer;
  });
  auto rdo = prompting.CreateRdoEngine();
  ConnectionRef conn = rdo->OpenConnection(u"", PromptMode::kPrompt, false, u"", 0);
  EXPECT_EQ(conn->DataSourceName(), u"Picked");
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].name, u"Picked");
  EXPECT_EQ(seen[0].driver, u"SQLite3 ODBC Driver");
  EXPECT_EQ(seen[0].description, u"Contacts here");
  EXPECT_FALSE(seen[0].system);

  answer.reset();
  try {
    rdo->OpenConnection(u"", PromptMode::kPrompt, false, u"", 0);
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_EQ(f.description(), u"Operation cancelled");
  }
  EXPECT_THROW(engines_.CreateRdoEngine()->OpenConnection(u"", PromptMode::kPrompt, false, u"", 0),
               Failure);
}

TEST_F(OdbcEnginesTest, DataSourceStoreSeesUserAndSystemSources) {
  auto store = MakeOdbcDataSourceStore();
  auto dao = engines_.CreateDaoEngine();
  dao->RegisterDatabase(u"Maximizer SP1", u"SQLite3 ODBC Driver", true, u"DataDirectory=/srv/max");
  EXPECT_TRUE(store->Exists(false, u"maximizer sp1"));
  EXPECT_FALSE(store->Exists(true, u"Maximizer SP1"));
  EXPECT_EQ(store->Driver(false, u"Maximizer SP1"), Text(u"SQLite3 ODBC Driver"));
  EXPECT_EQ(store->Value(false, u"Maximizer SP1", u"DataDirectory"), Text(u"/srv/max"));
  EXPECT_EQ(store->Value(false, u"Maximizer SP1", u"Nothing"), std::nullopt);
  store->SetValue(true, u"Shared", u"Driver", u"SQLite3 ODBC Driver");
  EXPECT_EQ(store->Names(true), std::vector<Text>{u"Shared"});
  EXPECT_TRUE(store->Remove(false, u"Maximizer SP1"));
  EXPECT_FALSE(store->Remove(false, u"Maximizer SP1"));
  EXPECT_FALSE(store->Exists(false, u"Maximizer SP1"));
}

}  // namespace
}  // namespace pellory::testing
