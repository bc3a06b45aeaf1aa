// Actions carried out in the stand-in CRM application, as it records them.
#include "automation/actions.h"

#include <gtest/gtest.h>

#include <optional>

#include "crm_env.h"
#include "standins/crm/standin_crm.h"

namespace pellory::testing {
namespace {

using standin::CrmOptions;
using standin::StandinCrm;
using Strings = std::vector<std::string>;

// What every action that gets past the busy test begins with when the
// application already has the Session's database open.
const Strings kAttach = {
    "create Maximizer.AttachToCurrentInstance", "AttachToCurrentInstance.GetApplicationObject()",
    "Application.SetVisibilityState(\"Max\")",  "Application.getcurrentdbpath()",
    "Application.GetBusyIndicator()",
};
const Strings kActivation = {"main window: SetForegroundWindow", "main window: sent WM_ACTIVATE 1"};

Strings Join(std::initializer_list<Strings> parts) {
  Strings out;
  for (const Strings& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class ActionsTest : public ::testing::Test {
 protected:
  ActionsTest() {
    logic.check_running = &AttachLikeCheckRunning;
    logic.do_action_real = &DoActionReal;
    session.emplace(env, logic);
    session->state().db_path = u"C:\\Program Files\\Maximizer\\Data";
    session->state().db_user = u"MASTER";
    session->state().db_password = u"KESTREL";
  }

  void StartCrm(CrmOptions options = {}) { crm.emplace(env.desktop, env.registry, options); }

  // Runs one request and lets the message loop deliver what was queued;
  // returns what the application received.
  Strings Act(const char* rd) {
    if (crm) crm->ClearJournal();
    env.trace_file.lines.clear();
    EXPECT_EQ(session->DoAction(T(rd)), u"") << rd;
    env.desktop.DispatchPending();
    return crm ? crm->journal() : Strings{};
  }

  DesktopEnv env;
  std::optional<StandinCrm> crm;
  SessionLogic logic;
  std::optional<Session> session;
};

TEST_F(ActionsTest, ShowContactInEverySpelling) {
  StartCrm();
  const Strings expected =
      Join({kAttach,
            {"Application.ActivateWindow(\"Client\")", "Application.GetCurrentRecordObject()",
             "Record.SearchByClientID(\"C-1042\", <omitted>, 0)"},
            kActivation});
  for (const char* action : {"SHOW CONTACT", "show contact", "ShowContact", "SHOWCONTACT"}) {
    EXPECT_EQ(Act(("{Action=" + std::string(action) + "}{Id=C-1042}").c_str()), expected) << action;
  }
  EXPECT_EQ(crm->shown_contact(), u"C-1042");
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(ActionsTest, NewWindowChoosesTheDisplayMode) {
  StartCrm();
  struct Case {
    const char* new_window;
    const char* mode;
  };
  for (const Case& c :
       {Case{"", "0"}, Case{"{NewWindow=0}", "0"}, Case{"{NewWindow=1}", "2"},
        Case{"{NewWindow=-1}", "2"}, Case{"{NewWindow=true}", "2"}, Case{"{NewWindow=TRUE}", "2"},
        Case{"{NewWindow=False}", "0"}, Case{"{NewWindow(N1)=1}", "2"}}) {
    Strings got = Act(("{Action=Show Contact}{Id=7}" + std::string(c.new_window)).c_str());
    ASSERT_GE(got.size(), 8u);
    EXPECT_EQ(got[7], "Record.SearchByClientID(\"7\", <omitted>, " + std::string(c.mode) + ")")
        << c.new_window;
  }
  // Neither a number nor a truth word: the contact is not shown, the rest goes on.
  EXPECT_EQ(Act("{Action=Show Contact Item}{Id=7}{NewWindow=maybe}{Item=View Activities}"),
            Join({kAttach,
                  {"Application.ActivateWindow(\"Client\")", "Application.GetCurrentRecordObject()",
                   "main window: sent WM_COMMAND 33306"},
                  kActivation}));
  EXPECT_EQ(env.TraceMessages(), Strings{"Type mismatch @ plugin.Session.DoAction"});
}

TEST_F(ActionsTest, ShowContactItemSendsTheItemsCommand) {
  StartCrm();
  struct Case {
    const char* item;
    int command;
  };
  for (const Case& c : {Case{"VIEW ACTIVITIES", 33306}, Case{"view phone log", 10211},
                        Case{"Create Opportunity", 10441}, Case{"RECEIVE A CALL", 10231},
                        Case{"SCHEDULE A MEETING", 10234}, Case{"SCHEDULE A CALL", 10236},
                        Case{"SCHEDULE A TODO", 10235}, Case{"WRITE AN EMAIL", 10434}}) {
    EXPECT_EQ(
        Act(("{Action=show contact item}{Id=9}{Item=" + std::string(c.item) + "}").c_str()),
        Join({kAttach,
              {"Application.ActivateWindow(\"Client\")", "Application.GetCurrentRecordObject()",
               "Record.SearchByClientID(\"9\", <omitted>, 0)",
               "main window: sent WM_COMMAND " + std::to_string(c.command)},
              kActivation}))
        << c.item;
  }
  for (const char* rd :
       {"{Action=SHOW CONTACT ITEM}{Id=9}{Item=Journal}", "{Action=SHOW CONTACT ITEM}{Id=9}"}) {
    Strings got = Act(rd);
    EXPECT_EQ(got.size(), kAttach.size() + 3 + kActivation.size()) << rd;
  }
}

TEST_F(ActionsTest, ActivateWindowByTheWindowTable) {
  StartCrm();
  struct Case {
    const char* window;
    const char* effect;
  };
  for (const Case& c :
       {Case{"{Window=address book}", "Application.ActivateWindow(\"CLIENT\")"},
        Case{"{Window=Opportunities}",
             "Application.ActivateWindow(\"ADDRESS BOOK OPPORTUNITIES\")"},
        Case{"{Window=Expenses}", "main window: sent WM_COMMAND 10246"},
        Case{"{Window=FREETIME}", "main window: sent WM_COMMAND 10421"},
        Case{"{Window=journal}", "main window: sent WM_COMMAND 10245"},
        Case{"{Window=Calendar}", "Application.ActivateWindow(\"Calendar\")"},
        Case{"{Window=Marketing Library}", "Application.ActivateWindow(\"Marketing Library\")"},
        Case{"", "Application.ActivateWindow(<empty>)"}}) {
    EXPECT_EQ(Act(("{Action=Activate Window}" + std::string(c.window)).c_str()),
              Join({kAttach, {c.effect}, kActivation}))
        << c.window;
  }
  EXPECT_EQ(crm->active_window(), u"");
}

TEST_F(ActionsTest, RunMacroAndUnlistedActions) {
  StartCrm();
  EXPECT_EQ(Act("{Action=run macro}{Macro=Weekly Report}"),
            Join({kAttach, {"Application.RunMacro(\"Weekly Report\")"}, kActivation}));
  EXPECT_EQ(Act("{Action=RUN MACRO}"),
            Join({kAttach, {"Application.RunMacro(<empty>)"}, kActivation}));
  for (const char* rd : {"", "{Action=Dial}", "{Action= SHOW CONTACT}", "{Id=5}"}) {
    EXPECT_EQ(Act(rd), Join({kAttach, kActivation})) << rd;
  }
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(ActionsTest, NewContactTypesTheNumberLiterally) {
  // Another program is in front when the call comes in.
  CrmOptions options;
  options.windows_in_front = {u"Softphone"};
  StartCrm(options);
  const Strings commands = {"main window: sent WM_COMMAND 10238"};
  const Strings after_pump = {"main window: posted WM_COMMAND 10024", "main window: keys Alt+1",
                              "main window: typed \"+44 (0)1234 567890\"",
                              "main window: keys Alt+/"};
  EXPECT_EQ(Act("{Action=New Contact}{Tel=4401234567890}{NiceTel=+44 (0)1234 567890}"),
            Join({kAttach, commands, kActivation, after_pump}));
  EXPECT_EQ(env.keys.sent.back(), u"%1{+}44 {(}0{)}1234 567890%/");
  EXPECT_FALSE(env.keys.waited.back());

  // Without "NiceTel" the number itself is typed; without either, nothing between.
  Act("{Action=NEWCONTACT}{Tel=01234 567890}");
  EXPECT_EQ(env.keys.sent.back(),
            u"%1"
            u"01234 567890"
            u"%/");
  Act("{Action=new contact}");
  EXPECT_EQ(env.keys.sent.back(), u"%1%/");

  // Key notation in a caller-supplied number is typed, not obeyed.
  Strings got = Act("{Action=NEW CONTACT}{NiceTel(S14)=^{F4}%(fx)~[1]}");
  EXPECT_EQ(got.back(), "main window: keys Alt+/");
  EXPECT_EQ(got[got.size() - 2], "main window: typed \"^{F4}%(fx)~[1]\"");
  EXPECT_TRUE(env.trace_file.lines.empty());
}

TEST_F(ActionsTest, DatabaseSwitch) {
  CrmOptions options;
  options.database_path = u"C:\\DATA\\CRM";
  options.modal_view = true;
  StartCrm(options);
  session->state().db_path = u"c:\\data\\crm";
  EXPECT_EQ(Act("{Action=Dial}"), Join({kAttach, kActivation}));

  // Any database will do: the open one is not even asked for.
  const Strings no_compare = {kAttach[0], kAttach[1], kAttach[2], kAttach[4]};
  for (const char* path : {"(DEFAULT)", "(default)", ""}) {
    session->state().db_path = T(path);
    EXPECT_EQ(Act("{Action=Dial}"), Join({no_compare, kActivation})) << path;
  }

  session->state().db_path = u"D:\\Books\\Sales";
  session->state().db_user = u"ANNA";
  session->state().db_password = u"";
  EXPECT_EQ(Act("{Action=Dial}"),
            Join({{kAttach[0], kAttach[1], kAttach[2], kAttach[3], "Application.CloseDatabase()",
                   "modal view: sent WM_CLOSE",
                   "Application.OpenDatabase(\"Open\", <omitted>, \"D:\\Books\\Sales\", "
                   "\"ANNA\", \"\")",
                   kAttach[4]},
                  kActivation}));
  EXPECT_EQ(crm->database_path(), u"D:\\Books\\Sales");
  EXPECT_EQ(crm->modal_view(), 0u);
  EXPECT_EQ(env.desktop.WindowText(crm->main_window(), 1000), u"Maximizer - [Sales]");
  // Once switched, the next action finds the database open; with no modal
  // view open, nothing is sent one's way.
  EXPECT_EQ(Act("{Action=Dial}"), Join({kAttach, kActivation}));
  crm->set_database_path(u"D:\\Books\\Other");
  Strings got = Act("{Action=Dial}");
  EXPECT_EQ(got[4], "Application.CloseDatabase()");
  EXPECT_EQ(got[5].substr(0, 24), "Application.OpenDatabase");
}

TEST_F(ActionsTest, NothingFollowsTheBusyTestWhileBusy) {
  StartCrm();
  crm->set_busy(true);
  EXPECT_EQ(Act("{Action=Show Contact}{Id=1}"), kAttach);
  EXPECT_EQ(Act("{Action=New Contact}{Tel=1}"), kAttach);
  EXPECT_TRUE(env.keys.sent.empty());
  // An indicator that is not a truth value counts as busy, and is logged.
  crm->set_busy(u"unknown");
  EXPECT_EQ(Act("{Action=Run Macro}{Macro=M}"), kAttach);
  EXPECT_EQ(env.TraceMessages(), Strings{"Type mismatch @ plugin.Session.DoAction"});
  // A null indicator counts as not busy.
  crm->set_busy(Variant::Null());
  EXPECT_EQ(Act("{Action=Run Macro}{Macro=M}"),
            Join({kAttach, {"Application.RunMacro(\"M\")"}, kActivation}));
}

TEST_F(ActionsTest, WithoutTheApplicationEveryStepOnItFailsAndIsLogged) {
  // No CRM application, but a modal view window of its class is about.
  std::vector<unsigned> closed, received;
  WindowHandlers modal;
  modal.message = [&](WindowHandle, unsigned m, uintptr_t, intptr_t, bool) {
    closed.push_back(m);
    return intptr_t{0};
  };
  env.desktop.CreateWindow({u"pvModalView32", u""}, modal);
  WindowHandlers notepad;
  notepad.message = [&](WindowHandle, unsigned m, uintptr_t, intptr_t, bool) {
    received.push_back(m);
    return intptr_t{0};
  };
  env.desktop.SetForegroundWindow(env.desktop.CreateWindow({u"X", u"Untitled - Notepad"}, notepad));
  const std::string not_set = "Object variable or With block variable not set";
  const Strings attach_failed = {"ActiveX component can't create object @ Pell.CheckRunning",
                                 not_set + " @ Pell.CheckRunning"};
  for (const char* rd : {"{Action=Show Contact}{Id=1}",
                         "{Action=Show Contact Item}{Item=View "
                         "Activities}",
                         "{Action=New Contact}{Tel=1}", "{Action=Run Macro}{Macro=M}",
                         "{Action=Activate Window}{Window=Journal}", "{Action=x}", ""}) {
    Act(rd);
    EXPECT_EQ(env.TraceMessages(),
              Join({attach_failed,
                    {not_set + " @ plugin.Session.DoAction", not_set + " @ plugin.Session.DoAction",
                     not_set + " @ plugin.Session.DoAction", not_set + " @ plugin.Session.DoAction",
                     not_set + " @ plugin.Session.DoAction"}}))
        << rd;
  }
  EXPECT_EQ(closed, std::vector<unsigned>(7, kWmClose));
  EXPECT_TRUE(received.empty());
  EXPECT_TRUE(env.keys.sent.empty());

  // With "(DEFAULT)" only the visibility step and the busy test are tried.
  session->state().db_path = u"(Default)";
  Act("{Action=Show Contact}");
  EXPECT_EQ(
      env.TraceMessages(),
      Join({attach_failed,
            {not_set + " @ plugin.Session.DoAction", not_set + " @ plugin.Session.DoAction"}}));
}

TEST_F(ActionsTest, ApplicationThatWentAwayKeepsFailing) {
  StartCrm();
  Act("{Action=Dial}");
  crm.reset();
  // The session still holds the old application object; the attach fails.
  Act("{Action=Show Contact}{Id=1}");
  const std::string gone = "The remote server machine does not exist or is unavailable";
  EXPECT_EQ(env.TraceMessages(),
            (Strings{"ActiveX component can't create object @ Pell.CheckRunning",
                     "Object variable or With block variable not set @ Pell.CheckRunning",
                     gone + " @ plugin.Session.DoAction", gone + " @ plugin.Session.DoAction",
                     gone + " @ plugin.Session.DoAction", gone + " @ plugin.Session.DoAction",
                     gone + " @ plugin.Session.DoAction"}));
}

}  // namespace
}  // namespace pellory::testing
