// One action request carried out against the stand-in CRM application, the
// way `pellory action` runs it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/posix/posix_env.h"
#include "plugin/session.h"

namespace pellory::standin {

struct ActionCall {
  Text action;
  // Request keys; each is put into the request only when given.
  std::optional<Text> id, item, window, macro, tel, nice_tel;
  bool new_window = false;
  // The stand-in application.
  bool no_crm = false;
  bool crm_busy = false;
  bool crm_modal_view = false;
  Text crm_database;  // empty: the database the Session works on
};

// The request record DoAction receives for the call.
Text ActionRequest(Env& env, const ActionCall& call);

// Wires the simulated desktop into `env`, starts the stand-in application
// there (unless no_crm), runs DoAction on a Session holding the host's
// settings and per-user records, lets the message loop deliver what was
// queued, and returns what the application received, one line each.
std::vector<std::string> RunAction(PosixEnv& env, const Assembly& assemble, const Text& data_rd,
                                   const Text& user_rd, const ActionCall& call);

}  // namespace pellory::standin
