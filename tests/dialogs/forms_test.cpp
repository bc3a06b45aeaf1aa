// The two dialogs driven as a view drives them: through Session::Configure
// with a dialog host that raises the person's events.
#include <gtest/gtest.h>

#include <map>

#include "assembly.h"
#include "dialogs/frm_config.h"
#include "dialogs/list_search.h"
#include "platform/failure.h"
#include "plugin/records.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

const Control& Find(const ModalForm& form, TextView name, int index = -1) {
  for (const Control& c : form.Controls()) {
    if (c.name == name && c.index == index) return c;
  }
  throw Failure(u"no control " + Text(name));
}

bool Shown(const ModalForm& form, TextView name, int index = -1) {
  return IsShown(form, Find(form, name, index));
}

class FakeConnection : public Connection {
 public:
  ResultSetRef OpenResultSet(TextView, bool, double) override { throw Failure(u"not here"); }
  int TableCount() override { return 0; }
  Text TableName(int) override { return Text(); }
  Text DataSourceName() override { return dsn; }
  Text ConnectString() override { return connect; }
  Text dsn, connect;
};

// An RDO engine whose prompt yields `chosen`, or fails as a cancelled prompt.
class FakeRdo : public RdoEngine {
 public:
  ConnectionRef OpenConnection(TextView dsn, PromptMode prompt, bool read_only, TextView connect,
                               double) override {
    calls.push_back(Text(dsn) + u"|" + IntegerText(static_cast<int>(prompt)) + u"|" +
                    (read_only ? u"ro" : u"rw") + u"|" + Text(connect));
    if (!chosen) throw Failure(u"Operation cancelled");
    return chosen;
  }
  std::shared_ptr<FakeConnection> chosen;
  std::vector<Text> calls;
};

class RecordingDesktop : public EmptyDesktop {
 public:
  void SetTopmost(WindowHandle window, bool topmost) override {
    calls.push_back({window, topmost});
  }
  std::vector<std::pair<WindowHandle, bool>> calls;
};

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() : session_(env_, WireSubsystems) {
    auto rdo = std::make_shared<FakeRdo>();
    rdo_ = rdo.get();
    Databases().rdo = [rdo] { return rdo; };
  }

  // Configure(rd, page) with `steps` standing for the person at the dialog.
  Text Configure(Text rd, Text page, std::function<void(ModalForm&)> steps) {
    env_.fake_dialogs.run = std::move(steps);
    return session_.Configure(rd, page);
  }

  FakeDatabases& Databases() { return static_cast<FakeDatabases&>(*env_.database_engines); }

  bool Logged(TextView tag) const {
    for (const Text& line : env_.trace_file.lines) {
      if (line.size() >= tag.size() && line.substr(line.size() - tag.size()) == tag) return true;
    }
    return false;
  }

  FakeEnv env_;
  Session session_;
  FakeRdo* rdo_ = nullptr;
};

void Ok(ModalForm& f) { f.Clicked({u"OK"}); }

TEST_F(DialogTest, UntouchedConfigurationOverEmptyRecord) {
  bool loaded_as_designed = false;
  Text rd = Configure(u"", u"", [&](ModalForm& f) {
    loaded_as_designed = f.Caption() == u"Maximizer Configuration" &&
                         Find(f, u"Tabs").list == std::vector<Text>{u"Lookup", u"User"} &&
                         Find(f, u"Tabs").value == 0 && Find(f, u"dbFile").text == u"(Default)" &&
                         Find(f, u"bData").value == 1 && Find(f, u"bConn").value == 0 &&
                         Find(f, u"Phone", 0).value == 1 && Find(f, u"Phone", 3).value == 1 &&
                         Find(f, u"User").text.empty() && Find(f, u"Pwd").text.empty() &&
                         Shown(f, u"Phone", 2) && !f.Closed();
    Ok(f);
    EXPECT_TRUE(f.Closed());
  });
  EXPECT_TRUE(loaded_as_designed);
  EXPECT_EQ(rd,
            u"{Caption(S9)=Maximizer}{Dbfile(S9)=(Default)}{UseSQL(S5)=False}{Phone1(N1)=1}"
            u"{Phone2(N1)=1}{Phone3(N1)=1}{Phone4(N1)=1}");
  EXPECT_TRUE(env_.trace_file.lines.empty());
}

TEST_F(DialogTest, CaptionOfTheDataDirectory) {
  const Text thirty = u"/srv/maximizer/data/shared/abc";  // 30 characters
  const Text twenty_five = u"/srv/maximizer/data/abcde";
  ASSERT_EQ(thirty.size(), 30u);
  ASSERT_EQ(twenty_five.size(), 25u);
  struct Case {
    Text typed, caption;
  } cases[] = {{thirty, u"..." + thirty.substr(7)},
               {twenty_five, twenty_five},
               {u"(default)", u"Maximizer"},
               {u"(DEFAULT)", u"Maximizer"}};
  for (const Case& c : cases) {
    Text rd = Configure(u"", u"lookup", [&](ModalForm& f) {
      f.TextChanged({u"dbFile"}, c.typed);
      Ok(f);
    });
    EXPECT_EQ(GetText(env_, rd, u"Caption"), c.caption) << U8(c.typed);
    EXPECT_EQ(GetText(env_, rd, u"Dbfile"), c.typed);
  }
  // A cut that would split a character outside the basic plane moves past it.
  Text wide = u"/data/" + Text(20, u'a') + u"\U0001F600" + Text(22, u'b');
  EXPECT_EQ(DataDirectoryCaption(wide), u"..." + Text(22, u'b'));
}

TEST_F(DialogTest, UserPageHidesTheTelephoneSwitchesButWritesThem) {
  Text rd = Configure(u"{Phone2(N1)=0}{DBUser=  jane }{Other=x}", u"user", [&](ModalForm& f) {
    EXPECT_EQ(Find(f, u"Tabs").value, 1);  // opens on the User tab
    EXPECT_FALSE(Shown(f, u"fData"));
    EXPECT_FALSE(Shown(f, u"Phone", 0));
    EXPECT_TRUE(Shown(f, u"Label2"));
    f.Clicked({u"Phone", 0});  // not reachable while hidden
    Ok(f);
  });
  EXPECT_EQ(rd,
            u"{Caption(S9)=Maximizer}{Dbfile(S9)=(Default)}{UseSQL(S5)=False}{Phone1(N1)=1}"
            u"{Phone2(N1)=0}{Phone3(N1)=1}{Phone4(N1)=1}{DBUser(S4)=jane}");
  // Only the exact upper-case page hides them (Configure upper-cases it).
  Text lower = u"{Page=User}";
  FrmConfig form(env_, lower);
  form.Form_Load();
  EXPECT_TRUE(Shown(form, u"fData"));
  EXPECT_EQ(Find(form, u"Tabs").value, 0);
}

TEST_F(DialogTest, DataDirectoryWithoutAnAddressBookIsStoredOnlyWhenConfirmed) {
  using P = PathKind;
  const std::map<Text, PathKind> machine = {
      {u"/data/good", P::kFolder},    {u"/data/good/mxza.max", P::kFile},
      {u"/data/", P::kFolder},        {u"/data/mxza.max", P::kFile},
      {u"C:\\Max\\Data", P::kFolder}, {u"C:\\Max\\Data\\mxza.max", P::kFile},
      {u"/data/empty", P::kFolder},   {u"/data/empty/MXZA.MAX", P::kFile},
      {u"/data/file", P::kFile},      {u"/data/book/mxza.max", P::kFolder},
      {u"/data/book", P::kFolder}};
  const Text sql = u"{UseSQL=True}{Connection(S15)={Connect=DSN=x}}";
  struct Case {
    Text host, typed;
    const char16_t* question;  // nullptr: none asked
    bool answer;
  } cases[] = {
      {u"", u"(default)", nullptr, false},
      {u"", u"   ", nullptr, false},
      {u"", u"/data/good", nullptr, false},
      {u"", u"/data/", nullptr, false},
      {u"", u"C:\\Max\\Data", nullptr, false},
      {u"", u"  /data/empty ", u"The data directory /data/empty has no address book (mxza.max).",
       true},
      {u"", u"/data/empty", u"The data directory /data/empty has no address book (mxza.max).",
       false},
      {u"", u"/data/book", u"The data directory /data/book has no address book (mxza.max).", false},
      {u"", u"/data/missing", u"The data directory /data/missing does not exist.", true},
      {u"", u"/data/file", u"The data directory /data/file is a file, not a folder.", false},
      {u"{dbFile=/data/missing}", Text(), u"The data directory /data/missing does not exist.",
       false},
      {sql, u"/data/missing", nullptr, false},  // SQL mode leaves the directory alone
  };
  env_.fake_dialogs.paths = machine;
  for (const Case& c : cases) {
    env_.fake_dialogs.asked.clear();
    env_.fake_dialogs.answer = [&](TextView) { return c.answer; };
    bool closed_by_ok = false;
    Text rd = Configure(c.host, u"lookup", [&](ModalForm& f) {
      if (!c.typed.empty()) f.TextChanged({u"dbFile"}, c.typed);
      Ok(f);
      closed_by_ok = f.Closed();
      if (!f.Closed()) f.Clicked({u"Cancel"});  // No leaves the dialog open
    });
    const bool asked = c.question != nullptr;
    ASSERT_EQ(env_.fake_dialogs.asked.size(), asked ? 1u : 0u) << U8(c.typed);
    if (asked) {
      EXPECT_EQ(env_.fake_dialogs.asked[0], Text(c.question) + u" Store it anyway?");
      EXPECT_EQ(env_.fake_dialogs.message_caption, u"Maximizer Configuration");
    }
    EXPECT_EQ(closed_by_ok, !asked || c.answer) << U8(c.typed);
    EXPECT_EQ(GetVar(env_, rd, u"Page").is_empty(), !asked || c.answer) << U8(c.typed);
  }
  EXPECT_TRUE(env_.fake_dialogs.told.empty());
  EXPECT_TRUE(env_.trace_file.lines.empty());
}

// A cancelled or failed prompt (none at all on a machine without RDO) keeps
// the earlier connection record and leaves no trace.
TEST_F(DialogTest, SqlModeIsNeverStoredWithoutAConnection) {
  const Text earlier = u"{ConnName(S3)=Old}{Connect(S7)=DSN=Old}";
  auto sized = [](const Text& record) {
    return u"{Connection(S" + IntegerText(static_cast<int64_t>(record.size())) + u")=" + record +
           u"}";
  };
  auto prompt_cancelled = [&](ModalForm& f) {
    EXPECT_EQ(Find(f, u"OConn").text, u"Old");
    EXPECT_EQ(Find(f, u"bConn").value, 1);
    f.Clicked({u"OSel"});
    EXPECT_EQ(Find(f, u"OConn").text, u"");
  };
  struct Case {
    const char* name;
    Text host;
    std::function<void(ModalForm&)> before_ok;
    bool refused;
  } cases[] = {
      {"stored SQL mode without a record", u"{UseSQL=True}", nullptr, true},
      {"record without a connect string", u"{UseSQL=True}" + sized(u"{ConnName(S3)=Old}"), nullptr,
       true},
      {"SQL server picked, prompt cancelled", u"",
       [](ModalForm& f) { f.Clicked({u"OSel"}), f.Clicked({u"bConn"}); }, true},
      {"earlier record kept through a cancelled prompt", u"{UseSQL=True}" + sized(earlier),
       prompt_cancelled, false},
      {"earlier record kept without RDO", u"{UseSQL=True}" + sized(earlier),
       [&](ModalForm& f) {
         Databases().rdo = nullptr;
         prompt_cancelled(f);
       },
       false},
  };
  for (const Case& c : cases) {
    env_.fake_dialogs.told.clear();
    Text rd = Configure(c.host, u"", [&](ModalForm& f) {
      if (c.before_ok) c.before_ok(f);
      Ok(f);
      EXPECT_EQ(f.Closed(), !c.refused) << c.name;
      if (f.Closed()) return;
      // The person goes back to the data directory instead.
      f.Clicked({u"bData"});
      Ok(f);
    });
    ASSERT_EQ(env_.fake_dialogs.told.size(), c.refused ? 1u : 0u) << c.name;
    if (c.refused) {
      EXPECT_NE(env_.fake_dialogs.told[0].find(u"No SQL server is chosen."), Text::npos);
    } else {
      EXPECT_EQ(GetText(env_, rd, u"Connection"), earlier) << c.name;
    }
    EXPECT_EQ(GetText(env_, rd, u"UseSQL"), c.refused ? u"False" : u"True") << c.name;
  }
  EXPECT_TRUE(env_.trace_file.lines.empty());
}

TEST_F(DialogTest, PasswordAndUserAreTrimmedAndEmptyOnesAreLeftOut) {
  Text rd = Configure(u"{DBPwd=secret}{DBUser=MASTER}", u"", [&](ModalForm& f) {
    EXPECT_EQ(Find(f, u"Pwd").kind, ControlKind::kPasswordBox);
    EXPECT_EQ(Find(f, u"Pwd").text, u"secret");
    f.TextChanged({u"Pwd"}, u"   ");
    Ok(f);
  });
  EXPECT_TRUE(GetVar(env_, rd, u"DBPwd").is_empty());
  EXPECT_EQ(GetText(env_, rd, u"DBUser"), u"MASTER");
}

TEST_F(DialogTest, ChoosingADataSourceKeepsNameConnectAndDriver) {
  auto conn = std::make_shared<FakeConnection>();
  conn->dsn = u"Sales";
  conn->connect = u"DSN=Sales;UID=u;PWD=p";
  rdo_->chosen = conn;
  env_.fake_registry.SetString(RegistryRoot::kCurrentUser,
                               u"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources", u"Sales",
                               u"User Driver");
  Text rd = Configure(u"", u"", [&](ModalForm& f) {
    f.TextChanged({u"OConn"}, u"typed");
    f.Clicked({u"OSel"});
    EXPECT_EQ(Find(f, u"OConn").text, u"Sales");
    EXPECT_EQ(Find(f, u"bConn").value, 1);
    EXPECT_EQ(Find(f, u"bData").value, 0);
    Ok(f);
  });
  EXPECT_EQ(rdo_->calls, std::vector<Text>{u"|0|rw|ODBC;"});
  const Text record =
      u"{ConnName(S5)=Sales}{Connect(S21)=DSN=Sales;UID=u;PWD=p}{Driver(S11)=User Driver}";
  EXPECT_EQ(GetText(env_, rd, u"Connection"), record);
  EXPECT_EQ(GetText(env_, rd, u"UseSQL"), u"True");

  // A machine-wide source of that name gives its driver; choosing the data
  // directory afterwards writes False and keeps the connection record.
  env_.fake_registry.SetString(RegistryRoot::kLocalMachine,
                               u"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources", u"Sales",
                               u"System Driver");
  rd = Configure(u"", u"", [&](ModalForm& f) {
    f.Clicked({u"OSel"});
    f.Clicked({u"bData"});
    EXPECT_EQ(Find(f, u"bConn").value, 0);
    Ok(f);
  });
  EXPECT_EQ(GetText(env_, rd, u"UseSQL"), u"False");
  EXPECT_EQ(GetText(env_, GetText(env_, rd, u"Connection"), u"Driver"), u"System Driver");
  EXPECT_TRUE(env_.trace_file.lines.empty());
}

TEST_F(DialogTest, BrowsingKeepsTheDirectoryOfTheChosenFile) {
  env_.fake_dialogs.open = [](const FileOpenRequest&) { return Text(u"C:\\Max\\Data\\mxza.max"); };
  Text rd = Configure(u"", u"", [&](ModalForm& f) { f.Clicked({u"bIni"}), Ok(f); });
  ASSERT_EQ(env_.fake_dialogs.open_requests.size(), 1u);
  const FileOpenRequest& req = env_.fake_dialogs.open_requests[0];
  EXPECT_EQ(req.title, u"Select database file (mxza.max)");
  EXPECT_EQ(req.default_extension, u"max");
  EXPECT_EQ(req.filter, u"Database file (mxza.max)|mxza.max");
  EXPECT_EQ(req.file_name, u"");
  EXPECT_EQ(GetText(env_, rd, u"Dbfile"), u"C:\\Max\\Data");

  env_.fake_dialogs.open = nullptr;  // cancelled
  rd = Configure(u"{UseSQL=True}{dbFile=/x/y}", u"", [&](ModalForm& f) {
    f.Clicked({u"bIni"});
    EXPECT_EQ(Find(f, u"bConn").value, 1);
    Ok(f);
  });
  EXPECT_EQ(GetText(env_, rd, u"Dbfile"), u"/x/y");
}

TEST_F(DialogTest, CancelAndCloseReturnTheHostRecordWithPage) {
  const Text host = u"{DBFile=/data}{Custom=1}";
  EXPECT_EQ(Configure(host, u"lookup",
                      [](ModalForm& f) {
                        f.TextChanged({u"dbFile"}, u"/other");
                        f.Clicked({u"Cancel"});
                        EXPECT_TRUE(f.Closed());
                      }),
            host + u"{Page(S6)=LOOKUP}");
  EXPECT_EQ(Configure(host, u"Action", [](ModalForm& f) { f.CloseRequested(); }),
            host + u"{Page(S6)=ACTION}");
  EXPECT_EQ(Configure(host, u"user", nullptr), host + u"{Page(S4)=USER}");  // host cannot show
}

TEST_F(DialogTest, StoredValuesThatDoNotFitLeaveTheDesignedState) {
  Text rd = Configure(u"{Phone1=yes}{Phone2(N1)=7}{Phone3=0}{UseSQL=maybe}", u"", [](ModalForm& f) {
    EXPECT_EQ(Find(f, u"Phone", 0).value, 0);
    EXPECT_EQ(Find(f, u"Phone", 1).value, 0);
    EXPECT_EQ(Find(f, u"Phone", 2).value, 0);
    EXPECT_EQ(Find(f, u"Phone", 3).value, 1);
    EXPECT_EQ(Find(f, u"bData").value, 1);
    f.Clicked({u"Phone", 2});
    Ok(f);
  });
  EXPECT_EQ(GetText(env_, rd, u"Phone3"), u"1");
  EXPECT_EQ(env_.trace_file.lines.size(), 3u);
  EXPECT_TRUE(Logged(u"Type mismatch @ Pell.frmConfig.Form_Load"));
  EXPECT_TRUE(Logged(u"Invalid property value @ Pell.frmConfig.Form_Load"));
}

TEST_F(DialogTest, ActivationBringsTheDialogToTheFrontOnce) {
  auto desktop = std::make_unique<RecordingDesktop>();
  RecordingDesktop* d = desktop.get();
  env_.window_system = std::move(desktop);
  Configure(u"", u"", [](ModalForm& f) { f.Activated(42); });
  Configure(u"", u"ACTION", [](ModalForm& f) { f.Activated(7); });
  using Call = std::pair<WindowHandle, bool>;
  EXPECT_EQ(d->calls, (std::vector<Call>{{42, true}, {42, false}, {7, true}, {7, false}}));
}

TEST_F(DialogTest, ActionDialogDefaultsAndOkRecord) {
  Text rd = Configure(u"{Host=1}", u"action", [](ModalForm& f) {
    EXPECT_EQ(f.Caption(), u"Maximizer Action Configuration");
    EXPECT_EQ(Find(f, u"Action").text, u"Show contact");
    EXPECT_EQ(Find(f, u"Action").list.size(), 5u);
    EXPECT_EQ(Find(f, u"wnd").text, u"Calendar");
    EXPECT_EQ(Find(f, u"Itm").text, u"View activities");
    EXPECT_EQ(Find(f, u"Macro").text, u"");
    EXPECT_TRUE(Shown(f, u"NewWindow"));
    EXPECT_EQ(Find(f, u"NewWindow").value, 0);
    EXPECT_FALSE(Shown(f, u"wnd") || Shown(f, u"Macro") || Shown(f, u"Itm"));
    Ok(f);
  });
  EXPECT_EQ(rd,
            u"{Action(S12)=Show contact}{Item(S15)=View activities}{NewWindow(N1)=0}"
            u"{Window(S8)=Calendar}");
}

TEST_F(DialogTest, ActionDialogShowsTheRowsOfTheChosenAction) {
  Text rd = Configure(u"{Action=run macro}{Macro=Daily}{Window=Contacts}{Item=SCHEDULE A CALL}",
                      u"ACTION", [](ModalForm& f) {
                        EXPECT_EQ(Find(f, u"Action").text, u"Run macro");
                        EXPECT_TRUE(Shown(f, u"Macro"));
                        EXPECT_FALSE(Shown(f, u"NewWindow"));
                        EXPECT_EQ(Find(f, u"wnd").list_index, -1);
                        EXPECT_EQ(Find(f, u"wnd").text, u"");
                        EXPECT_EQ(Find(f, u"Itm").text, u"schedule a call");
                      });
  EXPECT_EQ(GetText(env_, rd, u"Page"), u"ACTION");  // nothing was confirmed

  rd = Configure(u"{Action=run macro}{Macro=Daily}{Window=Contacts}", u"ACTION", [](ModalForm& f) {
    f.SelectionChanged({u"Action"}, 2);  // Show contact item
    EXPECT_TRUE(Shown(f, u"Itm"));
    EXPECT_TRUE(Shown(f, u"NewWindow"));
    EXPECT_FALSE(Shown(f, u"Macro"));
    f.Clicked({u"NewWindow"});
    f.SelectionChanged({u"Itm"}, 4);
    f.SelectionChanged({u"Action"}, 3);  // Activate window
    EXPECT_TRUE(Shown(f, u"wnd"));
    EXPECT_FALSE(Shown(f, u"Itm") || Shown(f, u"NewWindow"));
    Ok(f);
  });
  EXPECT_EQ(rd,
            u"{Action(S15)=Activate window}{Item(S18)=schedule a meeting}{Macro(S5)=Daily}"
            u"{NewWindow(N1)=1}");
}

TEST_F(DialogTest, NewWindowValueThatIsNoCheckBoxState) {
  for (const char16_t* stored : {u"{NewWindow(N1)=3}", u"{NewWindow=True}", u"{NewWindow=x}"}) {
    env_.trace_file.lines.clear();
    Text rd = Configure(stored, u"action", [](ModalForm& f) {
      EXPECT_EQ(Find(f, u"NewWindow").value, 0);
      EXPECT_EQ(Find(f, u"Action").text, u"Show contact");
      Ok(f);
    });
    EXPECT_EQ(GetText(env_, rd, u"NewWindow"), u"0") << U8(stored);
    EXPECT_EQ(env_.trace_file.lines.size(), 1u) << U8(stored);
    EXPECT_TRUE(Logged(u" @ Pell.frmAction.Form_Load")) << U8(stored);
  }
  Text rd = Configure(u"{NewWindow(N1)=2}", u"action", Ok);
  EXPECT_EQ(GetText(env_, rd, u"NewWindow"), u"2");  // greyed is a state
}

TEST(ListSearch, TextPrefixAndItemDataModes) {
  FakeEnv env;
  Control itm;
  itm.list = {u"View activities",    u"View phone log",  u"Create opportunity", u"Receive a call",
              u"schedule a meeting", u"schedule a call", u"schedule a todo",    u"Write an email"};
  EXPECT_EQ(ListSearch(env, itm, Variant(u"sched"), true), 4);
  EXPECT_EQ(ListSearch(env, itm, Variant(u"sched"), false), -1);
  EXPECT_EQ(ListSearch(env, itm, Variant(u"WRITE AN EMAIL"), false), 7);
  EXPECT_EQ(ListSearch(env, itm, Variant(u"Write an email, now"), true), -1);

  Control numbered;
  numbered.list = {u"7", u"eight", u"nine"};
  numbered.item_data = {9, 7};  // the third entry has none: 0
  EXPECT_EQ(ListSearch(env, numbered, Variant(int16_t{7}), false), 1);
  EXPECT_EQ(ListSearch(env, numbered, Variant(7.0), false), 1);
  EXPECT_EQ(ListSearch(env, numbered, Variant(int32_t{0}), false), 2);
  EXPECT_EQ(ListSearch(env, numbered, Variant(u"7"), false), 0);  // text compares texts
  EXPECT_EQ(ListSearch(env, numbered, Variant(int32_t{8}), false), -1);
  EXPECT_TRUE(env.trace_file.lines.empty());

  // The 16-bit index cannot pass the end of a longer list.
  Control huge;
  huge.list.assign(40000, u"x");
  EXPECT_EQ(ListSearch(env, huge, Variant(u"y"), false), -1);
  ASSERT_EQ(env.trace_file.lines.size(), 1u);
  EXPECT_NE(env.trace_file.lines[0].find(u"Overflow @ basGlobal.ListSearch"), Text::npos);
}

}  // namespace
}  // namespace pellory::testing
