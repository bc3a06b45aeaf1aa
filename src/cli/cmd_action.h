// pellory action: carries out one action against the stand-in CRM
// application and prints what the application received.
#pragma once

#include <iosfwd>
#include <string>

#include "plugin/session.h"

namespace CLI {
class App;
}

namespace pellory {
class PosixEnv;
}

namespace pellory::cli {

struct ActionArgs {
  std::string action;
  // Request keys; each is put into the request only when given.
  std::string id, item, window, macro, tel, nice_tel;
  bool has_id = false, has_item = false, has_window = false, has_macro = false, has_tel = false,
       has_nice_tel = false;
  bool new_window = false;
  // The stand-in application.
  bool no_crm = false;
  bool crm_busy = false;
  bool crm_modal_view = false;
  std::string crm_database;  // empty: its default
};

// The request record DoAction receives for these arguments.
Text ActionRequest(Env& env, const ActionArgs& args);

// Wires the simulated desktop into `env`, starts the stand-in application
// there (unless no_crm), runs DoAction, lets the message loop deliver what
// was queued and prints the application's journal, one line each.
int RunAction(PosixEnv& env, const ActionArgs& args, std::ostream& out, const SessionLogic& logic);

// Adds the "action" subcommand to `app`; it runs in `env` with the whole
// plug-in's logic and prints to standard output.
CLI::App* AddActionCommand(CLI::App& app, PosixEnv& env);
CLI::App* AddActionCommand(CLI::App& app, PosixEnv& env, std::ostream& out,
                           const SessionLogic& logic);

}  // namespace pellory::cli
