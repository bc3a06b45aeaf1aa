// The ODBC engines against a real driver manager and the SQLite ODBC
// driver, with private data-source files.
#include "platform/odbc/odbc_engines.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/failure.h"
#include "platform/odbc/connect_string.h"
#include "platform/odbc/odbc_ini.h"
#include "support/crmdb_odbc.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"
#include "support/shell.h"

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
  // Every Session's workspace has this name: another one is appended as
  // well, and leaves the collection when its holder lets it go. Only the
  // same workspace cannot be appended twice.
  WorkspaceRef other = dao->CreateWorkspace(u"ODBCWorkspace", u"admin", u"", kDbUseOdbc);
  dao->AppendWorkspace(other);
  std::weak_ptr<Workspace> released = other;
  other.reset();
  EXPECT_TRUE(released.expired());
  try {
    dao->AppendWorkspace(ws);
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

// The data-source file as other programs and people keep it: only the
// section asked about changes, and nothing at all when it already says so.
TEST(OdbcIniTest, EditsTouchOnlyTheirOwnSection) {
  using odbc::IniEntry;
  const std::string mine =
      "# desk sources\n[Desk]\nDriver = SQLite3\n  Database=/srv/d.db\n\n; ours next\n"
      "[Maximizer SP1]\nDriver=Max\nDataDirectory = /a\n# note\nmr_mr=false\n\n[Last]\nx=1";
  struct Case {
    const char* what;
    std::optional<std::string> got;
    std::optional<std::string> want;  // nullopt: nothing to write
  } cases[] = {
      {"same entries, other spacing and key case",
       odbc::WithSection(mine, "maximizer sp1",
                         {{"driver", "Max"}, {"DATADIRECTORY", "/a"}, {"mr_mr", "false"}}),
       std::nullopt},
      {"one value changed in place",
       odbc::WithSection(mine, "Maximizer SP1",
                         {{"Driver", "Max"}, {"DataDirectory", "/b"}, {"mr_mr", "false"}}),
       "# desk sources\n[Desk]\nDriver = SQLite3\n  Database=/srv/d.db\n\n; ours next\n"
       "[Maximizer SP1]\nDriver=Max\nDataDirectory=/b\n# note\nmr_mr=false\n\n[Last]\nx=1"},
      {"a key dropped, one added after the last key",
       odbc::WithSection(mine, "Maximizer SP1",
                         {{"Driver", "Max"}, {"DataDirectory", "/a"}, {"Visible", "True"}}),
       "# desk sources\n[Desk]\nDriver = SQLite3\n  Database=/srv/d.db\n\n; ours next\n"
       "[Maximizer SP1]\nDriver=Max\nDataDirectory = /a\n# note\nVisible=True\n\n[Last]\nx=1"},
      {"a new section at the end, after a blank line",
       odbc::WithSection(mine, "Maximizer SP2", {{"Driver", "Max"}}),
       mine + "\n\n[Maximizer SP2]\nDriver=Max\n"},
      {"a new section in an empty file", odbc::WithSection("", "S", {{"Driver", "D"}}),
       "[S]\nDriver=D\n"},
      {"a repeated key written once",
       odbc::WithSection("[S]\nDriver=D\nk=1\nk=1\n", "S", {{"Driver", "D"}, {"k", "1"}}),
       "[S]\nDriver=D\nk=1\n"},
      {"value set", odbc::WithValue(mine, "Last", {"x", "2"}),
       "# desk sources\n[Desk]\nDriver = SQLite3\n  Database=/srv/d.db\n\n; ours next\n"
       "[Maximizer SP1]\nDriver=Max\nDataDirectory = /a\n# note\nmr_mr=false\n\n[Last]\nx=2\n"},
      {"value already set", odbc::WithValue(mine, "Desk", {"database", "/srv/d.db"}), std::nullopt},
      {"section removed, the comment before it kept", odbc::WithoutSection(mine, "Maximizer SP1"),
       "# desk sources\n[Desk]\nDriver = SQLite3\n  Database=/srv/d.db\n\n; ours next\n"
       "[Last]\nx=1"},
      {"removing what is not there", odbc::WithoutSection(mine, "Nothing"), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

// A registration's attributes: one a line, or a connect string when the
// text has no line break but a ";".
TEST(ConnectString, ReadsRegistrationAttributesOneALineOrAsAConnectString) {
  struct Case {
    const char16_t* attributes;
    const char* want;  // "key=value|" for each attribute
  } cases[] = {
      {u"Database=/srv/a.db\rDescription=Contacts here",
       "Database=/srv/a.db|Description=Contacts here|"},
      {u"A=1\r\n B =x;y \r\n", "A=1|B=x;y |"},
      {u"DSN=x;Database={a;b};PWD=p", "DSN=x|Database=a;b|PWD=p|"},
      {u"DataDirectory=/srv/max", "DataDirectory=/srv/max|"},
      // Without a carriage return a line feed stays in the value, where
      // registration refuses it.
      {u"DataDirectory=/a\nExecDelayMs=2500", "DataDirectory=/a\nExecDelayMs=2500|"},
      {u"no value\r=orphan\rK=\r", "K=|"},
      {u"", ""},
  };
  for (const Case& c : cases) {
    std::string got;
    for (const ConnectAttribute& a : ParseAttributeLines(c.attributes)) {
      got += ToUtf8(a.key) + "=" + ToUtf8(a.value) + "|";
    }
    EXPECT_EQ(got, c.want) << ToUtf8(c.attributes);
  }
}

// What would land in the data-source file as more than one attribute, or
// as a section of its own, is refused and nothing is written.
TEST_F(OdbcEnginesTest, RegistrationRefusesWhatTheFileCannotHoldAsOneEntry) {
  auto dao = engines_.CreateDaoEngine();
  const std::string before = "# mine\n[Kept]\nDriver=SQLite3 ODBC Driver\n";
  struct Case {
    const char16_t* dsn;
    const char16_t* attributes;
  } cases[] = {
      {u"Maximizer SP1", u"DataDirectory=/books/a\nExecDelayMs=2500"},
      {u"Maximizer SP1", u"DataDirectory=/books/a\n[Evil DSN]\nDriver=x"},
      {u"Maximizer SP1", u"DataDirectory=/books/a\x01"},
      {u"Maximizer SP1", u"Data[Directory]=/books/a"},
      {u"Evil]\n[Other", u"DataDirectory=/books/a"},
      {u"A=B", u"DataDirectory=/books/a"},
  };
  for (const Case& c : cases) {
    std::ofstream(odbc_.UserIni()) << before;
    EXPECT_THROW(dao->RegisterDatabase(c.dsn, u"SQLite3 ODBC Driver", true, c.attributes), Failure)
        << ToUtf8(c.dsn) << " " << ToUtf8(c.attributes);
    EXPECT_EQ(ReadAll(odbc_.UserIni()), before);
  }
}

}  // namespace
}  // namespace pellory::testing
