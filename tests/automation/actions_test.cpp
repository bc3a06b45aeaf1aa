// Actions carried out by the whole plug-in in the stand-in CRM application,
// as the application records them.
#include "automation/actions.h"

#include <gtest/gtest.h>

#include <optional>

#include "assembly.h"
#include "crm_env.h"
#include "standins/crm/standin_crm.h"

namespace pellory::testing {
namespace {

using standin::CrmOptions;
using Strings = std::vector<std::string>;

// Every action that gets past the busy test begins so when the application
// has the Session's database open.
const Strings kAttach = {"create Maximizer.AttachToCurrentInstance",
                         "AttachToCurrentInstance.GetApplicationObject()",
                         "Application.SetVisibilityState(\"Max\")",
                         "Application.getcurrentdbpath()", "Application.GetBusyIndicator()"};
const Strings kActivation = {"main window: SetForegroundWindow", "main window: sent WM_ACTIVATE 1"};

Strings Join(std::initializer_list<Strings> parts) {
  Strings out;
  for (const Strings& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class ActionsTest : public ::testing::Test {
 protected:
  void StartCrm(CrmOptions options = {}) { crm.emplace(env.desktop, env.registry, options); }

  // Runs one request, lets the message loop deliver what was queued and
  // returns what the application received.
  Strings Act(const std::string& rd) {
    if (crm) crm->ClearJournal();
    env.trace_file.lines.clear();
    EXPECT_EQ(session.DoAction(T(rd.c_str())), u"") << rd;
    env.desktop.DispatchPending();
    return crm ? crm->journal() : Strings{};
  }

  DesktopEnv env;
  std::optional<standin::StandinCrm> crm;
  Session session{env, WireSubsystems};
};

TEST_F(ActionsTest, ShowContactSpellingsAndDisplayModes) {
  StartCrm();
  auto shown = [](const std::string& mode) {
    return Join({kAttach,
                 {"Application.ActivateWindow(\"Client\")", "Application.GetCurrentRecordObject()",
                  "Record.SearchByClientID(\"C-1\", <omitted>, " + mode + ")"},
                 kActivation});
  };
  for (const char* action : {"SHOW CONTACT", "show contact", "ShowContact", "SHOWCONTACT"}) {
    EXPECT_EQ(Act("{Action=" + std::string(action) + "}{Id=C-1}"), shown("0")) << action;
  }
  for (const char* nw : {"{NewWindow=0}", "{NewWindow=False}"}) {
    EXPECT_EQ(Act("{Action=Show Contact}{Id=C-1}" + std::string(nw)), shown("0")) << nw;
  }
  for (const char* nw :
       {"{NewWindow=1}", "{NewWindow=-1}", "{NewWindow=true}", "{NewWindow(N1)=1}"}) {
    EXPECT_EQ(Act("{Action=Show Contact}{Id=C-1}" + std::string(nw)), shown("2")) << nw;
  }
  EXPECT_EQ(crm->shown_contact(), u"C-1");
  EXPECT_TRUE(env.trace_file.lines.empty());
  // Neither a number nor a truth word: the contact is not shown, the rest goes on.
  EXPECT_EQ(Act("{Action=Show Contact Item}{Id=7}{NewWindow=maybe}{Item=View Activities}"),
            Join({kAttach,
                  {"Application.ActivateWindow(\"Client\")", "Application.GetCurrentRecordObject()",
                   "main window: sent WM_COMMAND 33306"},
                  kActivation}));
  EXPECT_EQ(env.TraceMessages(), Strings{"Type mismatch @ plugin.Session.DoAction"});
}

TEST_F(ActionsTest, ItemsAndWindowsByTheirTables) {
  StartCrm();
  const std::pair<const char*, const char*> items[] = {
      {"VIEW ACTIVITIES", "33306"},    {"view phone log", "10211"},
      {"Create Opportunity", "10441"}, {"RECEIVE A CALL", "10231"},
      {"SCHEDULE A MEETING", "10234"}, {"SCHEDULE A CALL", "10236"},
      {"SCHEDULE A TODO", "10235"},    {"WRITE AN EMAIL", "10434"}};
  for (const auto& [item, command] : items) {
    Strings got = Act("{Action=show contact item}{Id=9}{Item=" + std::string(item) + "}");
    EXPECT_EQ(got[7], "Record.SearchByClientID(\"9\", <omitted>, 0)");
    EXPECT_EQ(got[8], "main window: sent WM_COMMAND " + std::string(command)) << item;
  }
  EXPECT_EQ(Act("{Action=SHOW CONTACT ITEM}{Id=9}{Item=Journal}").size(), 10u);

  const std::pair<const char*, const char*> windows[] = {
      {"address book", "Application.ActivateWindow(\"CLIENT\")"},
      {"Opportunities", "Application.ActivateWindow(\"ADDRESS BOOK OPPORTUNITIES\")"},
      {"Expenses", "main window: sent WM_COMMAND 10246"},
      {"FREETIME", "main window: sent WM_COMMAND 10421"},
      {"journal", "main window: sent WM_COMMAND 10245"},
      {"Calendar", "Application.ActivateWindow(\"Calendar\")"}};
  for (const auto& [window, effect] : windows) {
    EXPECT_EQ(Act("{Action=Activate Window}{Window=" + std::string(window) + "}"),
              Join({kAttach, {effect}, kActivation}))
        << window;
  }
  EXPECT_EQ(Act("{Action=ACTIVATE WINDOW}"),
            Join({kAttach, {"Application.ActivateWindow(<empty>)"}, kActivation}));
}

TEST_F(ActionsTest, RunMacroAndUnlistedActions) {
  StartCrm();
  EXPECT_EQ(Act("{Action=run macro}{Macro=Weekly Report}"),
            Join({kAttach, {"Application.RunMacro(\"Weekly Report\")"}, kActivation}));
  for (const char* rd : {"", "{Action=Dial}", "{Action= SHOW CONTACT}"}) {
    EXPECT_EQ(Act(rd), Join({kAttach, kActivation})) << rd;
  }
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(ActionsTest, NewContactTypesTheNumberLiterally) {
  CrmOptions options;
  options.windows_in_front = {u"Softphone"};  // the user is elsewhere when the call comes
  StartCrm(options);
  EXPECT_EQ(Act("{Action=New Contact}{Tel=4401234567890}{NiceTel=+44 (0)1234 567890}"),
            Join({kAttach,
                  {"main window: sent WM_COMMAND 10238"},
                  kActivation,
                  {"main window: posted WM_COMMAND 10024", "main window: keys Alt+1",
                   "main window: typed \"+44 (0)1234 567890\"", "main window: keys Alt+/"}}));
  EXPECT_EQ(env.keys.sent.back(), u"%1{+}44 {(}0{)}1234 567890%/");
  EXPECT_FALSE(env.keys.waited.back());
  Act("{Action=NEWCONTACT}{Tel=01234 567890}");
  EXPECT_EQ(env.keys.sent.back(),
            u"%1"
            u"01234 567890"
            u"%/");
  Act("{Action=new contact}");
  EXPECT_EQ(env.keys.sent.back(), u"%1%/");
  // Key notation in a caller's number is typed, not obeyed.
  Strings got = Act("{Action=NEW CONTACT}{NiceTel(S14)=^{F4}%(fx)~[1]}");
  EXPECT_EQ(got[got.size() - 2], "main window: typed \"^{F4}%(fx)~[1]\"");
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(ActionsTest, DatabaseSwitch) {
  CrmOptions options;
  options.database_path = u"C:\\DATA\\CRM";
  options.modal_view = true;
  StartCrm(options);
  session.SetRecords(u"", u"{DBFile=c:\\data\\crm}");
  EXPECT_EQ(Act("{Action=Dial}"), Join({kAttach, kActivation}));
  // Any database will do: the open one is not even asked for.
  for (const char* user_rd : {"{DBFile=(DEFAULT)}", "{DBFile=(default)}"}) {
    session.SetRecords(u"", T(user_rd));
    EXPECT_EQ(Act("{Action=Dial}"),
              Join({{kAttach[0], kAttach[1], kAttach[2], kAttach[4]}, kActivation}));
  }
  session.SetRecords(u"", u"{DBFile=D:\\Books\\Sales}{DBUser=anna}");
  EXPECT_EQ(Act("{Action=Dial}"),
            Join({{kAttach[0], kAttach[1], kAttach[2], kAttach[3], "Application.CloseDatabase()",
                   "modal view: sent WM_CLOSE",
                   "Application.OpenDatabase(\"Open\", <omitted>, \"D:\\Books\\Sales\", "
                   "\"anna\", \"****\")",
                   kAttach[4]},
                  kActivation}));
  EXPECT_EQ(env.desktop.WindowText(crm->main_window(), 1000), u"Maximizer - [Sales]");
  EXPECT_EQ(crm->modal_view(), 0u);

  // An application that echoes the password in its failure: neither the
  // journal nor the trace log shows it.
  options.open_failure = u"Login refused";
  crm.reset();
  StartCrm(options);
  session.SetRecords(u"", u"{DBFile=D:\\Books\\Sales}{DBUser=anna}{DBPwd=S3cr3tPw}");
  const Strings journal = Act("{Action=Dial}");
  ASSERT_GT(journal.size(), 6u);
  EXPECT_EQ(journal[6],
            "Application.OpenDatabase(\"Open\", <omitted>, \"D:\\Books\\Sales\", \"anna\", "
            "\"****\") failed: Login refused (Open//D:\\Books\\Sales/anna/****)");
  EXPECT_EQ(env.TraceMessages(),
            Strings{"Login refused (Open//D:\\Books\\Sales/anna/****) @ plugin.Session.DoAction"});
}

TEST_F(ActionsTest, NothingFollowsTheBusyTestWhileBusy) {
  StartCrm();
  crm->set_busy(true);
  EXPECT_EQ(Act("{Action=New Contact}{Tel=1}"), kAttach);
  EXPECT_TRUE(env.keys.sent.empty());
  // An indicator that is no truth value counts as busy; a null one as not busy.
  crm->set_busy(u"unknown");
  EXPECT_EQ(Act("{Action=Run Macro}{Macro=M}"), kAttach);
  EXPECT_EQ(env.TraceMessages(), Strings{"Type mismatch @ plugin.Session.DoAction"});
  crm->set_busy(Variant::Null());
  EXPECT_EQ(Act("{Action=Run Macro}{Macro=M}").size(), kAttach.size() + 3);
}

TEST_F(ActionsTest, WithoutTheApplicationEveryStepOnItFailsAndIsLogged) {
  // No CRM application, but a window of its modal view class is about.
  std::vector<unsigned> received;
  WindowHandlers modal;
  modal.message = [&](WindowHandle, unsigned m, uintptr_t, intptr_t, bool) {
    received.push_back(m);
    return intptr_t{0};
  };
  env.desktop.SetForegroundWindow(env.desktop.CreateWindow({u"pvModalView32", u""}, modal));
  const std::string not_set = "Object variable or With block variable not set";
  const Strings attach = {"ActiveX component can't create object @ Pell.CheckRunning",
                          not_set + " @ Pell.CheckRunning"};
  const Strings failed(5, not_set + " @ plugin.Session.DoAction");
  for (const char* rd : {"{Action=Show Contact}{Id=1}", "{Action=New Contact}{Tel=1}",
                         "{Action=Activate Window}{Window=Journal}", ""}) {
    Act(rd);
    EXPECT_EQ(env.TraceMessages(), Join({attach, failed})) << rd;
  }
  EXPECT_EQ(received, std::vector<unsigned>(4, kWmClose));
  EXPECT_TRUE(env.keys.sent.empty());
  // With "(DEFAULT)" only the visibility step and the busy test are tried.
  session.SetRecords(u"", u"{DBFile=(Default)}");
  Act("{Action=Show Contact}");
  EXPECT_EQ(env.TraceMessages(),
            Join({attach, Strings(2, not_set + " @ plugin.Session.DoAction")}));
}

}  // namespace
}  // namespace pellory::testing
