#include "standins/crm/action_run.h"

#include "platform/posix/desktop.h"
#include "plugin/records.h"
#include "standins/crm/standin_crm.h"

namespace pellory::standin {

Text ActionRequest(Env& env, const ActionCall& call) {
  Text rd;
  auto put = [&](const char16_t* name, const std::optional<Text>& value) {
    if (value) AddVar(env, rd, name, *value, true);
  };
  AddVar(env, rd, u"Action", call.action, true);
  put(u"Id", call.id);
  put(u"Item", call.item);
  put(u"Window", call.window);
  put(u"Macro", call.macro);
  if (call.new_window) AddVar(env, rd, u"NewWindow", int32_t{1});
  put(u"Tel", call.tel);
  put(u"NiceTel", call.nice_tel);
  return rd;
}

std::vector<std::string> RunAction(PosixEnv& env, const Assembly& assemble, const Text& data_rd,
                                   const Text& user_rd, const ActionCall& call) {
  SimulatedPlatform platform = WireSimulatedDesktop(env);
  Session session(env, assemble);
  session.SetRecords(data_rd, user_rd);
  // Refresh the database details without attaching, so that the application
  // can start with the Session's database open.
  bool attach = false;
  session.CheckRunning(attach);

  std::optional<StandinCrm> crm;
  if (!call.no_crm) {
    CrmOptions options;
    if (!call.crm_database.empty()) {
      options.database_path = call.crm_database;
    } else if (session.crm() && !session.crm()->settings().db_path.empty()) {
      options.database_path = session.crm()->settings().db_path;
    }
    options.modal_view = call.crm_modal_view;
    crm.emplace(platform.desktop, platform.registry, options);
    if (call.crm_busy) crm->set_busy(true);
  }
  session.DoAction(ActionRequest(env, call));
  // The host's message loop runs on: posted commands and typed keys arrive.
  env.pump().DoEvents();

  if (!crm) return {"no CRM application is running"};
  if (crm->journal().empty()) return {"the CRM application received nothing"};
  return crm->journal();
}

}  // namespace pellory::standin
