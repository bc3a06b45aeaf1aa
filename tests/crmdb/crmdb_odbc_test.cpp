// SQL-mode loads through the real driver manager: the SQLite ODBC driver,
// and PostgreSQL through its ODBC driver with the test server.
#include <gtest/gtest.h>

#include <unistd.h>
#include <fstream>

#include "lookup/odbc_session.h"
#include "platform/posix/reg_registry.h"
#include "support/crmdb_odbc.h"
#include "support/pg_server.h"

#include <odbcinst.h>

namespace pellory::testing {
namespace {

class SqlModeTest : public OdbcSessionTest {
 protected:
  // A Session started in SQL mode on `record` and loaded once.
  Session& LoadWith(const std::string& record, Text* reply) {
    *reply = Open(SqlSettings(T(record.c_str())));
    return *session;
  }
  // The connect string as a record value holds braces: length-prefixed.
  std::string ConnectionRecord(const std::string& name, const std::string& connect,
                               const std::string& driver = "") {
    Text rd = Record({{u"Connect", T(connect.c_str())}, {u"Driver", T(driver.c_str())}});
    if (!name.empty()) rd = Record({{u"ConnName", T(name.c_str())}}) + rd;
    return U8(rd);
  }
};

TEST_F(SqlModeTest, SqliteFindsTheFirstClientTableThatAnswers) {
  const std::string connect =
      "Driver={SQLite3 ODBC Driver};Database=" + (sandbox.Dir() / "sales.db").string();
  ASSERT_EQ(ExecSql(connect, {"create table Accounts (Client_Id text)",
                              "create table CLIENT (Name text)",  // no Client_Id: fails the test
                              "create table Client_Notes (Client_Id text, Note text)"}),
            "");
  Text reply;
  Session& s = LoadWith(ConnectionRecord("Sales", connect), &reply);
  EXPECT_EQ(reply, u"{Result=Success}");
  EXPECT_EQ(Crm(s).table_name(), u"Client_Notes");
  EXPECT_EQ(env.fake_pump.calls, 1);  // between the two table tests
  EXPECT_NE(std::dynamic_pointer_cast<Connection>(Crm(s).database()), nullptr);
  EXPECT_EQ(Trace(), "");

  // No table passes: the name is that of the last table tried; with no
  // table that even names the contact table it stays "Client".
  for (const char* table : {"Client_Notes", "CLIENT"}) {
    ASSERT_EQ(ExecSql(connect, {std::string("drop table ") + table}), "");
    LoadWith(ConnectionRecord("Sales", connect), &reply);
    EXPECT_EQ(reply, u"{Result=Fail}{Reason=Could not load connection: Sales}");
  }
  EXPECT_EQ(Crm(*session).table_name(), u"Client");
}

TEST_F(SqlModeTest, SqliteRegistersAMissingSourceAndRetries) {
  const std::string db = (sandbox.Dir() / "sales.db").string();
  ASSERT_EQ(ExecSql("Driver={SQLite3 ODBC Driver};Database=" + db,
                    {"create table Client (Client_Id text)"}),
            "");
  Text reply;
  Session& s = LoadWith(
      ConnectionRecord("SalesLite", "DSN=SalesLite;Database=" + db, "SQLite3 ODBC Driver"), &reply);
  EXPECT_EQ(reply, u"{Result=Success}") << Trace();
  EXPECT_EQ(Crm(s).table_name(), u"Client");
  EXPECT_NE(ReadText(sandbox.UserIni()).find("[SalesLite]"), std::string::npos);
  // The registration outlives the Session: the next one connects at once.
  Text again;
  LoadWith("{ConnName=SalesLite}{Connect=DSN=SalesLite}", &again);
  EXPECT_EQ(again, u"{Result=Success}");
}

// A connection that does not open names the connection in the reply and
// leaves the driver's reason in the trace log, the password masked.
TEST_F(SqlModeTest, ConnectionFailuresNameTheConnectionAndLogTheReason) {
  const std::string nowhere = "Database=/nonexistent/dir/x.db;NoCreat=1;PWD=Secret9";
  struct Case {
    const char* what;
    std::string record;
    const char16_t* name;
    const char* logged;
  } cases[] = {
      {"the driver cannot open it", ConnectionRecord("", "Driver={SQLite3 ODBC Driver};" + nowhere),
       u"Database", "@ Pellory.Load"},
      {"a missing source whose driver is not installed either",
       "{ConnName=Ghost}{Connect=DSN=Ghost;PWD=Secret9}{Driver=No Such Driver}", u"Ghost",
       "No Such Driver"},
      {"a missing source registered, and the retry fails too",
       ConnectionRecord("Retry", "DSN=Retry;" + nowhere, "SQLite3 ODBC Driver"), u"Retry",
       "@ Pellory.Load"},
      // It would write more into the data-source file than its one source.
      {"a line break in the record",
       ConnectionRecord("Evil", "DSN=Evil;Database=/a\n[Evil2]", "SQLite3 ODBC Driver"), u"Evil",
       "The setting Connection holds a line break"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    env.trace_file.lines.clear();
    Text reply;
    LoadWith(c.record, &reply);
    EXPECT_EQ(reply, u"{Result=Fail}{Reason=Could not load connection: " + Text(c.name) + u"}");
    EXPECT_NE(Trace().find(c.logged), std::string::npos) << Trace();
    EXPECT_EQ(Trace().find("Secret9"), std::string::npos) << Trace();
  }
  const std::string ini = ReadText(sandbox.UserIni());
  EXPECT_NE(ini.find("[Retry]"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("Evil"), std::string::npos) << ini;
}

// The platform object with the .reg registry mapped onto the sandbox's
// data sources.
class RegistryEnv : public FakeEnv {
 public:
  explicit RegistryEnv(const std::string& path) : reg(path, MakeOdbcDataSourceStore()) {}
  Registry& registry() override { return reg; }
  RegFileRegistry reg;
};

class FileModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleaseThreadEngines();
    book = odbc.MakeAddressBook("book", "Client_Id,Name,Phone_1\nC1,Smith,01234 567890\n",
                                {{"Sam", "pa;ss}w"}});
    other = odbc.MakeAddressBook("other", "Client_Id,Name\nC9,Jones\n");
    std::ofstream((odbc.Dir() / "registry.reg").string())
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_CURRENT_USER\\Software\\Maximizer Technologies\\Maximizer\\StartUp]\r\n"
           "\"DefDirPath\"=\""
        << book.string() << "\"\r\n";
    env = std::make_unique<RegistryEnv>((odbc.Dir() / "registry.reg").string());
    env->database_engines = std::make_unique<OdbcEngines>();
  }
  void TearDown() override { ReleaseThreadEngines(); }

  std::unique_ptr<Session> Start(const Text& data, const Text& user = u"") {
    auto s = std::make_unique<Session>(*env, WireSubsystems);
    Initialize(*s, data, user);
    return s;
  }
  void Initialize(Session& s, Text data, Text user) {
    ObjectRef cb;
    s.Initialize(data, user, cb);
  }
  Text Load(Session& s) {
    Text any;
    return s.Load(any);
  }
  Text Settings(const std::string& dir, const std::string& user = "",
                const std::string& password = "") {
    Text rd;
    AddVar(*env, rd, u"DBFile", Variant(T(dir.c_str())));
    if (!user.empty()) AddVar(*env, rd, u"DBUser", Variant(T(user.c_str())));
    if (!password.empty()) AddVar(*env, rd, u"DBPwd", Variant(T(password.c_str())));
    return rd;
  }
  std::string Trace() const {
    std::string all;
    for (const Text& l : env->trace_file.lines) all += U8(l) + "\n";
    return all;
  }

  OdbcSandbox odbc;
  std::filesystem::path book, other;
  std::unique_ptr<RegistryEnv> env;
};

TEST_F(FileModeTest, LoadsTheAddressBookThroughTheInstanceDataSource) {
  // Nothing configured: the directory comes from the registry file.
  auto s = Start(u"", u"{Start=1}");
  EXPECT_EQ(Crm(*s).settings().db_path, T(book.string().c_str()));
  EXPECT_EQ(Load(*s), u"{Result=Success}") << Trace();
  EXPECT_EQ(Crm(*s).contacts()->Field(u"Name"), u"Smith");
  // No CRM application runs: the attach is logged, the details refreshed.
  EXPECT_NE(Trace().find("ActiveX component can't create object @ Pell.CheckRunning"),
            std::string::npos);
  EXPECT_EQ(Crm(*s).settings().db_user, u"MASTER");

  // The source with its six attributes, in order.
  const std::string ini = ReadText(odbc.UserIni());
  size_t at = ini.find("[Maximizer SP1]");
  ASSERT_NE(at, std::string::npos) << ini;
  size_t last = at;
  for (const char* attr :
       {"Driver", "Autolock", "DataDirectory", "mr_mr", "seperator", "TrueDate", "Visible"}) {
    size_t p = ini.find(attr, last);
    ASSERT_NE(p, std::string::npos) << attr << " in " << ini;
    last = p;
  }
  EXPECT_NE(ini.find("DataDirectory=" + book.string()), std::string::npos) << ini;
  EXPECT_NE(ini.find("seperator=,"), std::string::npos) << ini;

  // The next start-up re-registers it; the load reads the other book.
  Initialize(*s, Settings(other.string()), u"");
  const std::string again = ReadText(odbc.UserIni());
  EXPECT_EQ(again.find("[Maximizer SP1]"), again.rfind("[Maximizer SP1]"));
  EXPECT_NE(again.find("DataDirectory=" + other.string()), std::string::npos);
  s->Unload();
  EXPECT_EQ(Load(*s), u"{Result=Success}");
  EXPECT_EQ(Crm(*s).contacts()->Field(u"Name"), u"Jones");

  // A second Session has a source of its own.
  auto t = Start(Settings(book.string(), "Sam", "pa;ss}w"));
  EXPECT_EQ(Load(*t), u"{Result=Success}") << Trace();
  EXPECT_NE(ReadText(odbc.UserIni()).find("[Maximizer SP2]"), std::string::npos);
  EXPECT_EQ(Trace().find("pa;ss"), std::string::npos);
  // Neither the repeated start-up nor the second Session's workspace, nor
  // one after the first Session ended, is a failure to append.
  s.reset();
  auto u = Start(Settings(book.string()));
  EXPECT_EQ(u->instance_no(), 1);
  EXPECT_EQ(Trace().find("Cannot append"), std::string::npos) << Trace();
}

TEST_F(FileModeTest, FailuresReplyCouldNotLoadDatabase) {
  auto s = Start(Settings(book.string(), "Sam", "Wr0ngPass"));
  EXPECT_EQ(Load(*s), u"{Result=Fail}{Reason=Could not load Database}");
  EXPECT_NE(Trace().find("Pellory.Load"), std::string::npos);
  EXPECT_EQ(Trace().find("Wr0ngPass"), std::string::npos) << Trace();

  std::filesystem::create_directories(odbc.Dir() / "empty");
  auto t = Start(Settings((odbc.Dir() / "empty").string()));
  EXPECT_EQ(Load(*t), u"{Result=Fail}{Reason=Could not load Database}");

  // Without the driver nothing is registered, and the load fails.
  DWORD usage = 0;
  ASSERT_TRUE(SQLRemoveDriver("Maximizer ODBC Driver", 0, &usage));
  auto u = Start(Settings(book.string()));
  EXPECT_NE(Trace().find("'Maximizer ODBC Driver' is not installed @ Pell.Initialize"),
            std::string::npos);
  EXPECT_EQ(Load(*u), u"{Result=Fail}{Reason=Could not load Database}");
}

class PostgresTest : public SqlModeTest {
 protected:
  void SetUp() override {
    SqlModeTest::SetUp();
    pg = PgServer::FromEnvironment();
    PELLORY_REQUIRE_PG(pg);
    database = "pellory_" + std::to_string(::getpid());
    ASSERT_EQ(ExecSql(pg.ConnectString("postgres"),
                      {"drop database if exists " + database, "create database " + database}),
              "");
  }
  void TearDown() override {
    if (pg.available) ExecSql(pg.ConnectString("postgres"), {"drop database " + database});
    SqlModeTest::TearDown();
  }
  std::string Connect() const { return pg.ConnectString(database); }
  PgServer pg;
  std::string database;
};

TEST_F(PostgresTest, TablesAreTriedInTheDriversOrder) {
  ASSERT_EQ(ExecSql(Connect(), {"create schema dbo", "create table public.accounts (id int)",
                                "create table dbo.client (client_id varchar(10), name text)",
                                "create table public.client_notes (client_id varchar(10))",
                                "insert into dbo.client values ('C1', 'Smith')"}),
            "");
  Text reply;
  Session& s = LoadWith(ConnectionRecord("Sales", Connect()), &reply);
  EXPECT_EQ(reply, u"{Result=Success}") << Trace();
  EXPECT_EQ(Crm(s).table_name(), u"dbo.client");
  auto conn = std::dynamic_pointer_cast<Connection>(Crm(s).database());
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(conn->TableCount(), 3);
  EXPECT_EQ(conn->TableName(0), u"dbo.client");
  EXPECT_EQ(conn->TableName(1), u"public.accounts");
  EXPECT_EQ(conn->TableName(2), u"public.client_notes");
  ResultSetRef rs = conn->OpenResultSet(u"select * from dbo.client", true, 0);
  while (rs->StillExecuting()) env.pump().DoEvents();
  EXPECT_EQ(rs->Field(u"NAME"), u"Smith");
  EXPECT_EQ(rs->RecordCount(), 1);

  // Without a Client_Id column the next table that holds "client" passes.
  ASSERT_EQ(ExecSql(Connect(), {"alter table dbo.client drop column client_id"}), "");
  LoadWith(ConnectionRecord("Sales", Connect()), &reply);
  EXPECT_EQ(reply, u"{Result=Success}");
  EXPECT_EQ(Crm(*session).table_name(), u"public.client_notes");
}

TEST_F(PostgresTest, RegistersTheSourceThenConnectsAndMasksAWrongPassword) {
  ASSERT_EQ(ExecSql(Connect(), {"create table client (client_id int)"}), "");
  const std::string dsn = "PgSales" + std::to_string(::getpid());
  std::string connect = Connect();
  connect.replace(0, connect.find(';'), "DSN=" + dsn);  // DSN in place of Driver
  Text reply;
  Session& s = LoadWith(ConnectionRecord(dsn, connect, "PostgreSQL Unicode"), &reply);
  EXPECT_EQ(reply, u"{Result=Success}") << Trace();
  EXPECT_EQ(Crm(s).table_name(), u"public.client");
  const std::string ini = ReadText(sandbox.UserIni());
  EXPECT_NE(ini.find("[" + dsn + "]"), std::string::npos);
  EXPECT_EQ(ini.find(pg.password), std::string::npos);  // never stored with the source

  std::string wrong = connect.substr(0, connect.find(";PWD=")) + ";PWD={Wr;ong}}pw}";
  LoadWith(ConnectionRecord(dsn, wrong, "PostgreSQL Unicode"), &reply);
  EXPECT_EQ(reply, u"{Result=Fail}{Reason=Could not load connection: " + T(dsn.c_str()) + u"}");
  // The first attempt's failure is not logged, and nothing shows a password.
  EXPECT_EQ(Trace().find("ong}"), std::string::npos);
  EXPECT_EQ(Trace().find(pg.password), std::string::npos);
}

}  // namespace
}  // namespace pellory::testing
