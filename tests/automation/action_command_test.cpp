#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <sstream>

#include "automation/actions.h"
#include "cli/cmd_action.h"
#include "crm_env.h"
#include "platform/posix/posix_env.h"

namespace pellory::testing {
namespace {

class ActionCommandTest : public ::testing::Test {
 protected:
  ActionCommandTest() {
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

  std::string Run(std::vector<std::string> argv) {
    CLI::App app;
    std::ostringstream out;
    cli::AddActionCommand(app, env, out, logic);
    argv.insert(argv.begin(), {"pellory", "action"});
    std::vector<const char*> c;
    for (const std::string& s : argv) c.push_back(s.c_str());
    app.parse(static_cast<int>(c.size()), c.data());
    return out.str();
  }

  PosixEnv env;
  SessionLogic logic;
  std::vector<Text>* trace_lines = nullptr;
};

const char kAttach[] =
    "create Maximizer.AttachToCurrentInstance\n"
    "AttachToCurrentInstance.GetApplicationObject()\n"
    "Application.SetVisibilityState(\"Max\")\n"
    "Application.getcurrentdbpath()\n"
    "Application.GetBusyIndicator()\n";
const char kActivation[] =
    "main window: SetForegroundWindow\n"
    "main window: sent WM_ACTIVATE 1\n";

TEST_F(ActionCommandTest, PrintsWhatTheApplicationReceivedInOrder) {
  EXPECT_EQ(Run({"New Contact", "--tel", "4401234567890", "--nice-tel", "+44 (0)1234 567890"}),
            std::string(kAttach) + "main window: sent WM_COMMAND 10238\n" + kActivation +
                "main window: posted WM_COMMAND 10024\n"
                "main window: keys Alt+1\n"
                "main window: typed \"+44 (0)1234 567890\"\n"
                "main window: keys Alt+/\n");
  EXPECT_EQ(Run({"show contact item", "--id", "C{7}", "--new-window", "--item", "View Phone Log"}),
            std::string(kAttach) +
                "Application.ActivateWindow(\"Client\")\n"
                "Application.GetCurrentRecordObject()\n"
                "Record.SearchByClientID(\"C{7}\", <omitted>, 2)\n"
                "main window: sent WM_COMMAND 10211\n" +
                kActivation);
  // A number given as empty is typed as empty, not replaced by "Tel".
  std::string typed = Run({"NEWCONTACT", "--tel", "123", "--nice-tel", ""});
  EXPECT_EQ(typed.find("typed"), std::string::npos) << typed;
  EXPECT_TRUE(trace_lines->empty());
}

TEST_F(ActionCommandTest, StandInOptions) {
  EXPECT_EQ(Run({"Show Contact", "--id", "1", "--crm-busy"}), kAttach);
  std::string switched =
      Run({"Run Macro", "--macro", "M", "--crm-database", "D:\\Other", "--crm-modal-view"});
  EXPECT_NE(switched.find("Application.CloseDatabase()\nmodal view: sent WM_CLOSE\n"
                          "Application.OpenDatabase(\"Open\", <omitted>, "),
            std::string::npos)
      << switched;
  EXPECT_EQ(Run({"Run Macro", "--no-crm"}), "no CRM application is running\n");
  // The attach (two steps), the visibility step, the database compare, close
  // and open, and the busy test.
  EXPECT_EQ(trace_lines->size(), 2u + 5u);
}

}  // namespace
}  // namespace pellory::testing
