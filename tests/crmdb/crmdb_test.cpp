// Start-up, load, unload and CheckRunning over scripted engines.
#include "crmdb/crmdb.h"

#include <gtest/gtest.h>

#include "assembly.h"
#include "automation/actions.h"
#include "crmdb/crmdb_fakes.h"
#include "crmdb/session_connection.h"
#include "platform/odbc/connect_string.h"
#include "plugin/records.h"

namespace pellory::testing {
namespace {

using namespace pellory::crmdb;
constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;

class App : public AutoObject {
 public:
  Variant Invoke(TextView, std::span<const Variant>) override { return Variant(); }
};

class Attach : public AutoObject {
 public:
  explicit Attach(Variant app) : app(std::move(app)) {}
  Variant Invoke(TextView member, std::span<const Variant>) override {
    if (member != u"GetApplicationObject") throw Failure(u"no member", 438);
    return app;
  }
  Variant app;
};

class CrmdbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleaseThreadEngines();
    dao = std::make_shared<ScriptedDao>(log);
    rdo = std::make_shared<ScriptedRdo>();
    auto& engines = static_cast<FakeDatabases&>(*env.database_engines);
    engines.dao = [this] { return dao; };
    engines.rdo = [this] { return rdo; };
  }
  void TearDown() override { ReleaseThreadEngines(); }

  static crmdb::SessionConnection& Crm(Session& s) {
    return dynamic_cast<crmdb::SessionConnection&>(*s.crm());
  }
  static const std::shared_ptr<AutoObject>& AppOf(Session& s) {
    return dynamic_cast<AttachedApplication&>(*s.application()).app();
  }

  std::unique_ptr<Session> Start(Text data_rd, Text user_rd = Text()) {
    auto s = std::make_unique<Session>(env, WireSubsystems);
    ObjectRef callback;
    s->Initialize(data_rd, user_rd, callback);
    return s;
  }
  Text Load(Session& s) {
    Text any = u"{Anything=1}";
    return s.Load(any);
  }
  bool Logged(TextView what) const {
    for (const Text& l : env.trace_file.lines) {
      if (l.find(what) != Text::npos) return true;
    }
    return false;
  }
  void Registry(TextView key, TextView name, TextView value) {
    env.fake_registry.SetString(kUser, key, name, value);
  }
  void RunningApp() {
    env.fake_automation.servers[u"MAXIMIZER.ATTACHTOCURRENTINSTANCE"] = [] {
      return std::make_shared<Attach>(Variant(ObjectRef(std::make_shared<App>())));
    };
  }

  FakeEnv env;
  DaoLog log;
  std::shared_ptr<ScriptedDao> dao;
  std::shared_ptr<ScriptedRdo> rdo;
};

TEST_F(CrmdbTest, StartUpWithNothingConfiguredUsesTheFixedDefaults) {
  auto s = Start(u"");
  const CrmSettings& st = Crm(*s).settings();
  EXPECT_EQ(st.db_path, u"C:\\Program Files\\Maximizer\\Data");
  EXPECT_EQ(st.db_user, u"MASTER");
  EXPECT_EQ(st.db_password, u"KESTREL");
  EXPECT_TRUE(st.search_phone[0] && st.search_phone[1] && st.search_phone[2] && st.search_phone[3]);
  EXPECT_FALSE(st.use_sql);
  EXPECT_EQ(env.fake_registry.deleted,
            std::vector<Text>{u"Software\\ODBC\\ODBC.INI\\Maximizer SP1"});
  EXPECT_EQ(log.workspaces, std::vector<Text>{u"ODBCWorkspace|admin||1"});
  EXPECT_EQ(log.appended, std::vector<Text>{u"ODBCWorkspace"});
  EXPECT_EQ(log.registered,
            std::vector<Text>{u"Maximizer SP1|Maximizer ODBC Driver|1|Autolock=True\r"
                              u"DataDirectory=C:\\Program Files\\Maximizer\\Data\rmr_mr=false\r"
                              u"seperator=,\rTrueDate=True\rVisible=True"});
  EXPECT_NE(Crm(*s).workspace(), nullptr);
  EXPECT_TRUE(env.trace_file.lines.empty());

  // The second Session of the thread registers its own source.
  auto second = Start(u"");
  EXPECT_EQ(log.registered.size(), 2u);
  EXPECT_EQ(log.registered[1].substr(0, 14), u"Maximizer SP2|");
}

TEST_F(CrmdbTest, StartUpTakesTheCrmApplicationsRegistryValues) {
  Registry(kMaximizerStartup, u"DefDirPath", u"D:\\Max\\Data");
  Registry(kMaximizerStartup, u"Last User", u"SAM\x01junk");
  EXPECT_EQ(Crm(*Start(u"")).settings().db_path, u"D:\\Max\\Data");
  auto s = Start(u"");
  EXPECT_EQ(Crm(*s).settings().db_user, u"SAM");  // cut at the control character
  EXPECT_EQ(Crm(*s).settings().db_password, u"");
  Registry(kMultiactiveStartup, u"Address Book Path", u"E:\\Books\\Escher");
  EXPECT_EQ(Crm(*Start(u"")).settings().db_path, u"E:\\Books\\Escher");
  // Settings of the record come first; "(Default)" is a value like any other.
  EXPECT_EQ(Crm(*Start(u"{DBFile=(Default)}")).settings().db_path, u"(Default)");
}

TEST_F(CrmdbTest, StartUpReadsUserPasswordAndSwitchesFromTheSettings) {
  EXPECT_EQ(Crm(*Start(u"{DBUser=master}")).settings().db_password, u"KESTREL");
  EXPECT_EQ(Crm(*Start(u"{DBUser=Jo}")).settings().db_password, u"");
  EXPECT_EQ(Crm(*Start(u"{DBUser=MASTER}{DBPwd=}")).settings().db_password, u"");
  auto s = Start(u"{Phone1=0}");
  const bool* p = Crm(*s).settings().search_phone;
  EXPECT_TRUE(!p[0] && p[1] && p[2] && p[3]);

  // An unreadable switch keeps what the Session had: off when new, the
  // earlier value on a repeated start-up. Each failure is logged.
  auto t = Start(u"{Phone2=maybe}{Phone3=}");
  EXPECT_FALSE(Crm(*t).settings().search_phone[1]);
  EXPECT_FALSE(Crm(*t).settings().search_phone[2]);
  EXPECT_TRUE(Logged(u"Type mismatch @ Pell.Initialize"));
  Text rd = u"{Phone2=True}{Phone4=False}", user;
  ObjectRef cb;
  t->Initialize(rd, user, cb);
  rd = u"{Phone2=maybe}";
  t->Initialize(rd, user, cb);
  EXPECT_TRUE(Crm(*t).settings().search_phone[1]);
  // The repeated start-up created a second workspace and appended it in
  // place of the first, which the Session let go.
  EXPECT_EQ(log.workspaces.size(), 7u);
}

TEST_F(CrmdbTest, SqlModeKeepsTheConnectionRecordAndTouchesNoDataSource) {
  const Text record = u"{ConnName=Sales}{Connect=DSN=Sales;UID=u;PWD=p}{Driver=SQLite3}";
  Text rd = u"{UseSQL=True}";
  AddVar(env, rd, u"Connection", Variant(record));
  auto s = Start(rd);
  EXPECT_TRUE(Crm(*s).settings().use_sql);
  EXPECT_EQ(Crm(*s).settings().db_path, record);
  EXPECT_EQ(Crm(*s).connection_rd(), record);
  EXPECT_TRUE(env.fake_registry.deleted.empty());
  EXPECT_TRUE(log.registered.empty());
  EXPECT_TRUE(log.workspaces.empty());
  EXPECT_EQ(Crm(*s).workspace(), nullptr);
}

TEST_F(CrmdbTest, RegistryHelpersGiveDefaultsAndNeverFail) {
  env.fake_registry.SetString(RegistryRoot::kLocalMachine, u"K", u"Text", u"abc\0def");
  env.fake_registry.SetDword(RegistryRoot::kLocalMachine, u"K", u"Num", 7);
  EXPECT_EQ(RegistryGet(env, u"K", u"Num", Variant(int16_t{5})), Variant(int32_t{7}));
  EXPECT_EQ(RegistryGet(env, u"K", u"Missing", Variant(int16_t{5})), Variant(int16_t{5}));
  EXPECT_EQ(RegistryGet(env, u"None", u"Num", Variant(int16_t{5})), Variant(u"5"));
  EXPECT_EQ(RegistryGet(env, u"K", u"Text"), Variant(u"abc"));
  EXPECT_EQ(RegistryGet(env, u"K", u"Num", Variant(u"d")), Variant(u"d"));
  EXPECT_EQ(RegistryGet(env, u"K", u"Text", Variant(), kUser), Variant(u""));
  env.fake_registry.SetString(RegistryRoot::kLocalMachine, u"K", u"Long", Text(2000, u'x'));
  EXPECT_EQ(RegistryGet(env, u"K", u"Long", Variant(u"short")), Variant(u"short"));

  EXPECT_EQ(ZTrim(env, Text(u"abc\0def", 7)), u"abc");
  EXPECT_EQ(ZTrim(env, u"\tabc"), u"");
  EXPECT_EQ(FilePath(env, u"C:\\Data\\mxza.max"), u"C:\\Data");
  EXPECT_EQ(FilePath(env, u"C:\\mxza.max"), u"C:");
  EXPECT_EQ(FilePath(env, u"/srv/max/mxza.max"), u"/srv/max");
  EXPECT_EQ(FilePath(env, u"   "), u"");
  EXPECT_TRUE(env.trace_file.lines.empty());
  EXPECT_EQ(FilePath(env, u"mxza.max"), u"");
  EXPECT_TRUE(Logged(u" @ basGlobal.FilePath"));
}

TEST_F(CrmdbTest, FileModeLoadRepliesForEachMissingPiece) {
  auto s = Start(u"{DBUser=Sam}{DBPwd=a;b}", u"{Start=1}");
  RunningApp();
  EXPECT_EQ(Load(*s), u"{Result=Success}");
  EXPECT_EQ(log.opened, std::vector<Text>{u"ODBC;DSN=Maximizer SP1;uid=Sam;pwd={a;b}"});
  auto db = std::static_pointer_cast<ScriptedConnection>(Crm(*s).database());
  EXPECT_EQ(db->statements, std::vector<Text>{u"select * from Client"});
  EXPECT_NE(Crm(*s).contacts(), nullptr);
  EXPECT_NE(AppOf(*s), nullptr);  // CheckRunning attached
  EXPECT_FALSE(Crm(*s).load_failed());

  // The database is open but the contact table is not.
  dao->open = [](TextView) { return std::make_shared<ScriptedConnection>(); };
  auto t = Start(u"");
  EXPECT_EQ(Load(*t), u"{Result=Fail}{Reason=Could not load 'Client'}");
  EXPECT_TRUE(Crm(*t).load_failed());

  // A wrong password: the driver's message echoes the connect string.
  dao->open = [](TextView connect) -> DatabaseRef {
    throw Failure(u"Login failed for " + Text(connect), 3146);
  };
  auto u = Start(u"{DBUser=Sam}{DBPwd=Secret1}");
  EXPECT_EQ(Load(*u), u"{Result=Fail}{Reason=Could not load Database}");
  EXPECT_TRUE(Logged(u"Login failed for ODBC;DSN=Maximizer SP3;uid=Sam;pwd=**** @ Pellory.Load"));
  EXPECT_FALSE(Logged(u"Secret1"));

  // No engine at all: no workspace at start-up, none at load.
  ReleaseThreadEngines();
  static_cast<FakeDatabases&>(*env.database_engines).dao = nullptr;
  auto v = Start(u"");
  EXPECT_EQ(Crm(*v).workspace(), nullptr);
  EXPECT_EQ(Load(*v), u"{Result=Fail}{Reason=Could not load Workspace}");
}

// The instance data source is written only when it must change, and a
// source that could not be registered is never opened: an earlier
// registration of the same name may name another address book.
TEST_F(CrmdbTest, FileModeRegistersOnlyWhatChangesAndNeverOpensAnUnregisteredSource) {
  const Text ini = u"Software\\ODBC\\ODBC.INI\\";
  struct Case {
    const char* what;
    Text data_rd;
    bool fail_register;
    bool registered;  // RegisterDatabase was called
    bool opened;      // the database open was tried
    const char16_t* logged;
  } cases[] = {
      {"a new source", u"{DBFile=/books/a}", false, true, true, nullptr},
      {"the driver is missing", u"{DBFile=/books/a}", true, true, false,
       u"Driver not installed @ Pellory.Load"},
      {"a line break in the path", u"{DBFile=/books/a\nExecDelayMs=2500}", false, false, false,
       u"The setting DBFile holds a line break or another control character @ Pellory.Load"},
      {"a carriage return in the path", u"{DBFile=/books/a\rDataDirectory=/other}", false, false,
       false, u"DBFile holds a line break"},
      {"a trailing blank", u"{DBFile=/books/a }", false, false, false,
       u"The setting DBFile begins or ends with a blank: '/books/a ' @ Pellory.Load"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    env.trace_file.lines.clear();
    env.fake_registry.deleted.clear();
    log = DaoLog();
    dao->fail_register = c.fail_register;
    auto s = Start(c.data_rd);
    EXPECT_EQ(!log.registered.empty(), c.registered);
    EXPECT_EQ(!env.fake_registry.deleted.empty(), c.registered);
    EXPECT_EQ(Load(*s),
              c.opened ? u"{Result=Success}" : u"{Result=Fail}{Reason=Could not load Database}");
    EXPECT_EQ(!log.opened.empty(), c.opened);
    if (c.logged) {
      EXPECT_TRUE(Logged(c.logged));
    }
  }

  // A source that already holds the driver and the six attributes is left
  // alone: nothing removed, nothing written, and it opens. Another directory
  // under the same name is written afresh.
  for (const char16_t* dir : {u"/books/b", u"/books/a"}) {
    Registry(ini + u"ODBC Data Sources", u"Maximizer SP1", kDriverName);
    for (const char16_t* kv : {u"Autolock=True", u"DataDirectory=/books/a", u"mr_mr=false",
                               u"seperator=,", u"TrueDate=True", u"Visible=True"}) {
      TextView t(kv);
      Registry(ini + u"Maximizer SP1", t.substr(0, t.find(u'=')), t.substr(t.find(u'=') + 1));
    }
    SetUp();
    log = DaoLog();
    env.fake_registry.deleted.clear();
    auto s = Start(u"{DBFile=" + Text(dir) + u"}");
    const bool same = Text(dir) == u"/books/a";
    EXPECT_EQ(log.registered.empty(), same);
    EXPECT_EQ(env.fake_registry.deleted.empty(), same);
    EXPECT_EQ(Load(*s), u"{Result=Success}");
  }
}

TEST_F(CrmdbTest, FileModeLoadRecreatesAMissingWorkspaceAndKeepsOldHandles) {
  dao->fail_workspaces = true;
  auto s = Start(u"");
  EXPECT_EQ(Crm(*s).workspace(), nullptr);
  dao->fail_workspaces = false;
  EXPECT_EQ(Load(*s), u"{Result=Success}");
  EXPECT_EQ(log.appended.size(), 0u);  // made again at load, not appended
  DatabaseRef first = Crm(*s).database();

  // A second load whose open fails keeps the handle it had.
  dao->open = [](TextView) -> DatabaseRef { throw Failure(u"gone", 3146); };
  static_cast<ScriptedWorkspace&>(*Crm(*s).workspace()).open = dao->open;
  EXPECT_EQ(Load(*s), u"{Result=Success}");
  EXPECT_EQ(Crm(*s).database(), first);

  EXPECT_EQ(s->Unload(), u"");
  EXPECT_EQ(Crm(*s).database(), nullptr);
  EXPECT_EQ(Crm(*s).contacts(), nullptr);
  EXPECT_NE(Crm(*s).workspace(), nullptr);
  EXPECT_EQ(s->Unload(), u"");
}

TEST_F(CrmdbTest, AnUnreadableStartSkipsCheckRunning) {
  auto s = Start(u"{DBFile=D:\\Data}", u"{Start=perhaps}{DBFile=E:\\Other}");
  EXPECT_EQ(Load(*s), u"{Result=Success}");
  EXPECT_TRUE(Logged(u"Type mismatch @ Pellory.Load"));
  EXPECT_EQ(Crm(*s).settings().db_path, u"D:\\Data");  // not rewritten
}

Text SqlSettings(TextView record) {
  FakeEnv scratch;
  Text rd = u"{UseSQL=True}";
  AddVar(scratch, rd, u"Connection", Variant(Text(record)));
  return rd;
}

// A reload after an action (which rewrites the database path) still finds
// the connection record; an export left open does not outlive the reload,
// whose table test uses statements of its own.
TEST_F(CrmdbTest, SqlModeReloadsFromTheConnectionRecordAndDropsAnOpenExport) {
  rdo->connection->tables = {u"Client"};
  rdo->connection->answering = {u"Client"};
  auto s = Start(SqlSettings(u"{ConnName=Sales}{Connect=DSN=Sales}"));
  bool start = false;
  s->CheckRunning(start);  // as every action does
  EXPECT_EQ(Crm(*s).settings().db_path, u"C:\\Program Files\\Maximizer\\Data");
  s->Unload();
  EXPECT_EQ(Load(*s), u"{Result=Success}");
  EXPECT_EQ(rdo->attempts.back(), u"ODBC;|1|rw|DSN=Sales");

  ASSERT_EQ(s->CacheStart(), u"{Records(N2)=-1}");
  rdo->connection->answering.clear();
  EXPECT_EQ(Load(*s), u"{Result=Fail}{Reason=Could not load connection: Sales}");
  EXPECT_EQ(s->CacheRecord(), u"{Result(S4)=Fail}{Reason(S20)=No recordset: Client}");
}

// "Timeout" limits every connection and statement a load makes; inside a
// search, a load gets what is left of the search's time.
TEST_F(CrmdbTest, TheTimeoutSettingLimitsConnectingAndTheLoadsStatements) {
  rdo->connection->tables = {u"Client"};
  rdo->connection->answering = {u"Client"};
  struct Case {
    const char16_t* setting;
    double limit;
    double deadline_in;  // above 0: a search with this many seconds left is running
  };
  const Case cases[] = {{u"", 0, 0},
                        {u"{Timeout=7}", 7, 0},
                        {u"{Timeout=2.5}", 3, 0},
                        {u"{Timeout=-4}", 0, 0},
                        {u"{Timeout=999999}", 86400, 0},
                        {u"{Timeout=7}", 1.5, 1.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.setting));
    for (bool sql : {false, true}) {
      Text rd = c.setting;
      if (sql) rd += SqlSettings(u"{ConnName=Sales}{Connect=DSN=Sales}");
      auto s = Start(rd);
      if (c.deadline_in > 0) s->set_deadline(env.fake_clock.monotonic + c.deadline_in);
      ASSERT_EQ(Load(*s), u"{Result=Success}");
      auto db = std::static_pointer_cast<ScriptedConnection>(Crm(*s).database());
      EXPECT_EQ(sql ? rdo->login_timeouts.back() : log.login_timeouts.back(), c.limit);
      EXPECT_EQ(db->time_limits.back(), c.limit);
    }
  }
  EXPECT_TRUE(env.trace_file.lines.empty());

  // A value that is not a number is logged and leaves the setting as it was.
  auto s = Start(u"{Timeout=4}");
  Text rd = u"{Timeout=soon}", user;
  ObjectRef callback;
  s->Initialize(rd, user, callback);
  EXPECT_EQ(Crm(*s).settings().timeout, 4);
  EXPECT_TRUE(Logged(u"Type mismatch @ Pell.Initialize"));
}

TEST_F(CrmdbTest, CheckRunningRefreshesTheDetailsWhateverTheAttach) {
  auto s = Start(u"{DBFile=D:\\Data}{DBUser=Jo}");
  bool start = false;
  EXPECT_FALSE(s->CheckRunning(start));
  EXPECT_EQ(Crm(*s).settings().db_path, u"D:\\Data");  // the settings' "dbFile"
  EXPECT_EQ(Crm(*s).settings().db_user, u"MASTER");
  EXPECT_EQ(Crm(*s).settings().db_password, u"KESTREL");

  // No application to attach to: both steps logged, details refreshed.
  Text user = u"{DBFile=U:\\Mine}{DBUser=master}{DBPwd=}";
  Text data = u"";
  ObjectRef cb;
  s->Initialize(data, user, cb);
  start = true;
  EXPECT_FALSE(s->CheckRunning(start));
  EXPECT_TRUE(start);
  EXPECT_TRUE(Logged(u"ActiveX component can't create object @ Pell.CheckRunning"));
  EXPECT_TRUE(Logged(u"Object variable or With block variable not set @ Pell.CheckRunning"));
  EXPECT_EQ(Crm(*s).settings().db_path, u"U:\\Mine");
  EXPECT_EQ(Crm(*s).settings().db_user, u"master");
  EXPECT_EQ(Crm(*s).settings().db_password, u"");

  RunningApp();
  EXPECT_TRUE(s->CheckRunning(start));
  auto app = AppOf(*s);
  // A failed attach keeps the earlier object; one that returns nothing
  // empties it.
  env.fake_automation.servers.clear();
  EXPECT_TRUE(s->CheckRunning(start));
  EXPECT_EQ(AppOf(*s), app);
  env.fake_automation.servers[u"MAXIMIZER.ATTACHTOCURRENTINSTANCE"] = [] {
    return std::make_shared<Attach>(Variant(ObjectRef()));
  };
  EXPECT_FALSE(s->CheckRunning(start));
  EXPECT_EQ(AppOf(*s), nullptr);

  // The registry comes before the settings record.
  Registry(kMaximizerStartup, u"DefDirPath", u"R:\\Reg");
  Registry(kMaximizerStartup, u"Last User", u"Lee");
  user = u"";
  data = u"{DBFile=D:\\Data}";
  s->Initialize(data, user, cb);
  start = false;
  s->CheckRunning(start);
  EXPECT_EQ(Crm(*s).settings().db_path, u"R:\\Reg");
  EXPECT_EQ(Crm(*s).settings().db_user, u"Lee");
  EXPECT_EQ(Crm(*s).settings().db_password, u"");
}

TEST(ConnectString, BracesOnlyValuesThatNeedIt) {
  EXPECT_EQ(FileConnectString(1, u"MASTER", u"KESTREL"),
            u"ODBC;DSN=Maximizer SP1;uid=MASTER;pwd=KESTREL");
  EXPECT_EQ(FileConnectString(2, u"", u""), u"ODBC;DSN=Maximizer SP2;uid=;pwd=");
  EXPECT_EQ(FileConnectString(1, u"Jo Ann", u"p=w,d's"),
            u"ODBC;DSN=Maximizer SP1;uid=Jo Ann;pwd=p=w,d's");
  EXPECT_EQ(FileConnectString(1, u" Jo", u"a;PWD=x"),
            u"ODBC;DSN=Maximizer SP1;uid={ Jo};pwd={a;PWD=x}");
  EXPECT_EQ(FileConnectString(1, u"u", u"{x}}y"), u"ODBC;DSN=Maximizer SP1;uid=u;pwd={{x}}}}y}");
  // What the driver reads back is the value as typed.
  Text pwd;
  ASSERT_TRUE(FindConnectAttribute(FileConnectString(1, u"u", u"{x}}y;"), u"pwd", &pwd));
  EXPECT_EQ(pwd, u"{x}}y;");
}

TEST(ConnectString, MasksPasswordsInAnyForm) {
  EXPECT_EQ(MaskPasswords(u"DSN=a;UID=b;PWD=secret;X=1"), u"DSN=a;UID=b;PWD=****;X=1");
  EXPECT_EQ(MaskPasswords(u"dsn=a;pwd={se;c}}ret};x=1"), u"dsn=a;pwd=****;x=1");
  EXPECT_EQ(MaskPasswords(u"Password = hunter2"), u"Password =****");
  EXPECT_EQ(MaskPasswords(u"failed: 'DSN=a;Pwd=p'"), u"failed: 'DSN=a;Pwd=****");
  EXPECT_EQ(MaskPasswords(u"NewPWD=keep"), u"NewPWD=keep");
  EXPECT_EQ(MaskPasswords(u"user Secret9 denied", u"Secret9"), u"user **** denied");
  EXPECT_EQ(MaskPasswords(u"port 12", u"1"), u"port 12");
}

}  // namespace
}  // namespace pellory::testing
