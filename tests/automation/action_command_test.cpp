// One action run the way `pellory action` runs it.
#include <gtest/gtest.h>

#include "assembly.h"
#include "platform/posix/posix_env.h"
#include "standins/crm/action_run.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

using Strings = std::vector<std::string>;

TEST(ActionRun, ReportsWhatTheApplicationReceivedInOrder) {
  PosixEnv env;
  auto trace = std::make_unique<FakeTraceFile>();
  const std::vector<Text>& trace_lines = trace->lines;
  env.set_trace(std::move(trace));
  auto run = [&](const standin::ActionCall& call) {
    return standin::RunAction(env, WireSubsystems, u"{DBFile=/books/mxza}", u"", call);
  };

  standin::ActionCall call;
  call.action = u"New Contact";
  call.tel = u"4401234567890";
  call.nice_tel = u"+44 (0)1234 567890";
  EXPECT_EQ(run(call),
            (Strings{"create Maximizer.AttachToCurrentInstance",
                     "AttachToCurrentInstance.GetApplicationObject()",
                     "Application.SetVisibilityState(\"Max\")", "Application.getcurrentdbpath()",
                     "Application.GetBusyIndicator()", "main window: sent WM_COMMAND 10238",
                     "main window: SetForegroundWindow", "main window: sent WM_ACTIVATE 1",
                     "main window: posted WM_COMMAND 10024", "main window: keys Alt+1",
                     "main window: typed \"+44 (0)1234 567890\"", "main window: keys Alt+/"}));
  // A display number given as empty stays empty rather than falling back to "Tel".
  call.nice_tel = u"";
  EXPECT_EQ(standin::ActionRequest(env, call),
            u"{Action(S11)=New Contact}{Tel(S13)=4401234567890}{NiceTel(S0)=}");
  EXPECT_EQ(run(call).back(), "main window: keys Alt+/");
  EXPECT_EQ(run(call).size(), 11u);

  // The application has another database open, and a modal view in front.
  call.crm_database = u"D:\\Other";
  call.crm_modal_view = true;
  Strings switched = run(call);
  EXPECT_EQ(switched[4], "Application.CloseDatabase()");
  EXPECT_EQ(switched[5], "modal view: sent WM_CLOSE");
  EXPECT_EQ(switched[6],
            "Application.OpenDatabase(\"Open\", <omitted>, \"/books/mxza\", "
            "\"MASTER\", \"****\")");
  EXPECT_EQ(switched.back(), "main window: keys Alt+/");
  EXPECT_TRUE(trace_lines.empty());

  call.no_crm = true;
  EXPECT_EQ(run(call), Strings{"no CRM application is running"});
  EXPECT_EQ(trace_lines.size(), 2u + 5u);  // the attach and each step on the application
}

}  // namespace
}  // namespace pellory::testing
