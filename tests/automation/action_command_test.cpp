// One action run the way `pellory action` runs it.
#include <gtest/gtest.h>

#include "automation/actions.h"
#include "crm_env.h"
#include "platform/posix/posix_env.h"
#include "standins/crm/action_run.h"

namespace pellory::testing {
namespace {

using standin::ActionCall;
using Strings = std::vector<std::string>;

class ActionRunTest : public ::testing::Test {
 protected:
  ActionRunTest() {
    // Attaches, and refreshes the database details as from empty settings.
    logic.check_running = [](Session& session, bool& start) {
      session.state().db_path = u"C:\\Program Files\\Maximizer\\Data";
      session.state().db_user = u"MASTER";
      session.state().db_password = u"KESTREL";
      return AttachLikeCheckRunning(session, start);
    };
    logic.do_action_real = &DoActionReal;
    auto trace = std::make_unique<FakeTraceFile>();
    trace_lines = &trace->lines;
    env.set_trace(std::move(trace));
  }

  Strings Run(const ActionCall& call) { return standin::RunAction(env, logic, u"", u"", call); }

  PosixEnv env;
  SessionLogic logic;
  std::vector<Text>* trace_lines = nullptr;
};

const Strings kAttach = {
    "create Maximizer.AttachToCurrentInstance", "AttachToCurrentInstance.GetApplicationObject()",
    "Application.SetVisibilityState(\"Max\")",  "Application.getcurrentdbpath()",
    "Application.GetBusyIndicator()",
};

TEST_F(ActionRunTest, ReportsWhatTheApplicationReceivedInOrder) {
  ActionCall call;
  call.action = u"New Contact";
  call.tel = u"4401234567890";
  call.nice_tel = u"+44 (0)1234 567890";
  Strings expected = kAttach;
  for (const char* line :
       {"main window: sent WM_COMMAND 10238", "main window: SetForegroundWindow",
        "main window: sent WM_ACTIVATE 1", "main window: posted WM_COMMAND 10024",
        "main window: keys Alt+1", "main window: typed \"+44 (0)1234 567890\"",
        "main window: keys Alt+/"}) {
    expected.push_back(line);
  }
  EXPECT_EQ(Run(call), expected);
  // A display number given as empty stays empty rather than falling back to "Tel".
  call.nice_tel = u"";
  Strings empty_number = Run(call);
  ASSERT_EQ(empty_number.size(), kAttach.size() + 6);
  EXPECT_EQ(empty_number[kAttach.size() + 4], "main window: keys Alt+1");
  EXPECT_EQ(empty_number[kAttach.size() + 5], "main window: keys Alt+/");
  EXPECT_TRUE(trace_lines->empty());
}

TEST_F(ActionRunTest, RequestHoldsOnlyWhatWasGiven) {
  ActionCall call;
  call.action = u"Show Contact";
  call.id = u"C{7}";
  call.new_window = true;
  call.nice_tel = u"";
  EXPECT_EQ(standin::ActionRequest(env, call),
            u"{Action(S12)=Show Contact}{Id(S4)=C{7}}{NewWindow(N1)=1}{NiceTel(S0)=}");
}

TEST_F(ActionRunTest, StandInOptions) {
  ActionCall call;
  call.action = u"Run Macro";
  call.crm_busy = true;
  EXPECT_EQ(Run(call), kAttach);
  call.crm_busy = false;
  call.crm_database = u"D:\\Other";
  call.crm_modal_view = true;
  Strings switched = Run(call);
  ASSERT_GE(switched.size(), 7u);
  EXPECT_EQ(switched[4], "Application.CloseDatabase()");
  EXPECT_EQ(switched[5], "modal view: sent WM_CLOSE");
  call.no_crm = true;
  EXPECT_EQ(Run(call), Strings{"no CRM application is running"});
  // The attach (two steps), the visibility step, the database compare, close
  // and open, and the busy test.
  EXPECT_EQ(trace_lines->size(), 2u + 5u);
}

}  // namespace
}  // namespace pellory::testing
