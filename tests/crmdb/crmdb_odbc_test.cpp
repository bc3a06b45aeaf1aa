// SQL-mode loads through the real driver manager: the SQLite ODBC driver,
// and PostgreSQL through its ODBC driver with the test server.
#include <gtest/gtest.h>
#include <unistd.h>

#include "assembly.h"
#include "crmdb/crmdb.h"
#include "platform/odbc/odbc_engines.h"
#include "plugin/records.h"
#include "support/crmdb_odbc.h"
#include "support/fake_env.h"
#include "support/pg_server.h"

namespace pellory::testing {
namespace {

class SqlModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SessionCount() = 0;
    ReleaseThreadEngines();
    env.database_engines = std::make_unique<OdbcEngines>();
  }
  void TearDown() override { ReleaseThreadEngines(); }

  // A Session started in SQL mode on `record` and loaded once.
  std::unique_ptr<Session> LoadWith(const std::string& record, Text* reply) {
    Text data = u"{UseSQL=True}";
    AddVar(env, data, u"Connection", Variant(T(record.c_str())));
    Text user;
    ObjectRef cb;
    auto s = std::make_unique<Session>(env, FullSessionLogic());
    s->Initialize(data, user, cb);
    Text any;
    *reply = s->Load(any);
    return s;
  }
  std::string Trace() const {
    std::string all;
    for (const Text& l : env.trace_file.lines) all += U8(l) + "\n";
    return all;
  }

  PrivateOdbc odbc;
  FakeEnv env;
};

TEST_F(SqlModeTest, SqliteFindsTheFirstClientTableThatAnswers) {
  const std::string db = odbc.dir() + "/sales.db";
  ASSERT_EQ(ExecSql("Driver=SQLite3;Database=" + db,
                    {"create table Accounts (Client_Id text)",
                     "create table CLIENT (Name text)",  // no Client_Id: fails the test
                     "create table Client_Notes (Client_Id text, Note text)"}),
            "");
  Text reply;
  auto s = LoadWith("{ConnName=Sales}{Connect=Driver=SQLite3;Database=" + db + "}", &reply);
  EXPECT_EQ(reply, u"{Result=Success}");
  EXPECT_EQ(s->state().table_name, u"Client_Notes");
  EXPECT_EQ(env.fake_pump.calls, 1);
  EXPECT_NE(std::dynamic_pointer_cast<Connection>(s->state().database), nullptr);
  EXPECT_EQ(Trace(), "");
}

TEST_F(SqlModeTest, SqliteRegistersAMissingSourceAndRetries) {
  const std::string db = odbc.dir() + "/sales.db";
  ASSERT_EQ(ExecSql("Driver=SQLite3;Database=" + db, {"create table Client (Client_Id text)"}), "");
  Text reply;
  auto s = LoadWith(
      "{ConnName=SalesLite}{Connect=DSN=SalesLite;Database=" + db + "}{Driver=SQLite3}", &reply);
  EXPECT_EQ(reply, u"{Result=Success}") << Trace();
  EXPECT_EQ(s->state().table_name, u"Client");
  EXPECT_NE(odbc.UserIni().find("[SalesLite]"), std::string::npos);
  // The registration outlives the Session: the next one connects at once.
  Text again;
  LoadWith("{ConnName=SalesLite}{Connect=DSN=SalesLite}", &again);
  EXPECT_EQ(again, u"{Result=Success}");
}

TEST_F(SqlModeTest, ConnectionFailureNamesTheConnection) {
  Text reply;
  LoadWith("{Connect=Driver=SQLite3;Database=/nonexistent/dir/x.db;NoCreat=1}", &reply);
  EXPECT_EQ(reply, u"{Result=Fail}{Reason=Could not load connection: Database}");
  // A missing source whose driver is not installed either.
  LoadWith("{ConnName=Ghost}{Connect=DSN=Ghost;PWD=Hidden77}{Driver=No Such Driver}", &reply);
  EXPECT_EQ(reply, u"{Result=Fail}{Reason=Could not load connection: Ghost}");
  EXPECT_NE(Trace().find("No Such Driver"), std::string::npos);
  EXPECT_EQ(Trace().find("Hidden77"), std::string::npos);
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
  // The connect string as a record value holds braces: length-prefixed.
  std::string Record(const std::string& name, const std::string& connect,
                     const std::string& driver = "") {
    Text rd;
    AddVar(env, rd, u"ConnName", Variant(T(name.c_str())));
    AddVar(env, rd, u"Connect", Variant(T(connect.c_str())));
    AddVar(env, rd, u"Driver", Variant(T(driver.c_str())));
    return U8(rd);
  }

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
  auto s = LoadWith(Record("Sales", Connect()), &reply);
  EXPECT_EQ(reply, u"{Result=Success}") << Trace();
  EXPECT_EQ(s->state().table_name, u"dbo.client");
  auto conn = std::dynamic_pointer_cast<Connection>(s->state().database);
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(conn->TableCount(), 3);
  EXPECT_EQ(conn->TableName(0), u"dbo.client");
  EXPECT_EQ(conn->TableName(1), u"public.accounts");
  EXPECT_EQ(conn->TableName(2), u"public.client_notes");
  ResultSetRef rs = conn->OpenResultSet(u"select * from dbo.client", true);
  while (rs->StillExecuting()) env.pump().DoEvents();
  EXPECT_EQ(rs->Field(u"NAME"), u"Smith");
  EXPECT_EQ(rs->RecordCount(), 1);

  // Without a Client_Id column the next table that holds "client" passes.
  ASSERT_EQ(ExecSql(Connect(), {"alter table dbo.client drop column client_id"}), "");
  s = LoadWith(Record("Sales", Connect()), &reply);
  EXPECT_EQ(reply, u"{Result=Success}");
  EXPECT_EQ(s->state().table_name, u"public.client_notes");
}

TEST_F(PostgresTest, RegistersTheSourceThenConnectsAndMasksAWrongPassword) {
  ASSERT_EQ(ExecSql(Connect(), {"create table client (client_id int)"}), "");
  const std::string dsn = "PgSales" + std::to_string(::getpid());
  std::string connect = Connect();
  connect.replace(0, connect.find(';'), "DSN=" + dsn);  // DSN in place of Driver
  Text reply;
  auto s = LoadWith(Record(dsn, connect, "PostgreSQL Unicode"), &reply);
  EXPECT_EQ(reply, u"{Result=Success}") << Trace();
  EXPECT_EQ(s->state().table_name, u"public.client");
  const std::string ini = odbc.UserIni();
  EXPECT_NE(ini.find("[" + dsn + "]"), std::string::npos);
  EXPECT_EQ(ini.find(pg.password), std::string::npos);  // never stored with the source

  std::string wrong = connect.substr(0, connect.find(";PWD=")) + ";PWD={Wr;ong}}pw}";
  LoadWith(Record(dsn, wrong, "PostgreSQL Unicode"), &reply);
  EXPECT_EQ(reply, u"{Result=Fail}{Reason=Could not load connection: " + T(dsn.c_str()) + u"}");
  // The first attempt's failure is not logged, and nothing shows a password.
  EXPECT_EQ(Trace().find("ong}"), std::string::npos);
  EXPECT_EQ(Trace().find(pg.password), std::string::npos);
}

}  // namespace
}  // namespace pellory::testing
