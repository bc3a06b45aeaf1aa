#include "cli/cmd_action.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>

#include "assembly.h"
#include "platform/posix/desktop.h"
#include "platform/posix/posix_env.h"
#include "plugin/records.h"
#include "standins/crm/standin_crm.h"

namespace pellory::cli {

Text ActionRequest(Env& env, const ActionArgs& args) {
  Text rd;
  auto put = [&](const char16_t* name, bool given, const std::string& value) {
    if (given) AddVar(env, rd, name, FromUtf8(value), true);
  };
  AddVar(env, rd, u"Action", FromUtf8(args.action), true);
  put(u"Id", args.has_id, args.id);
  put(u"Item", args.has_item, args.item);
  put(u"Window", args.has_window, args.window);
  put(u"Macro", args.has_macro, args.macro);
  if (args.new_window) AddVar(env, rd, u"NewWindow", int32_t{1});
  put(u"Tel", args.has_tel, args.tel);
  put(u"NiceTel", args.has_nice_tel, args.nice_tel);
  return rd;
}

int RunAction(PosixEnv& env, const ActionArgs& args, std::ostream& out, const SessionLogic& logic) {
  SimulatedPlatform platform = WireSimulatedDesktop(env);
  std::optional<standin::StandinCrm> crm;
  if (!args.no_crm) {
    standin::CrmOptions options;
    if (!args.crm_database.empty()) options.database_path = FromUtf8(args.crm_database);
    options.modal_view = args.crm_modal_view;
    crm.emplace(platform.desktop, platform.registry, options);
    if (args.crm_busy) crm->set_busy(true);
  }
  {
    Session session(env, logic);
    session.DoAction(ActionRequest(env, args));
    // The host's message loop runs on: posted commands and typed keys arrive.
    env.pump().DoEvents();
  }
  if (!crm) {
    out << "no CRM application is running\n";
    return 0;
  }
  if (crm->journal().empty()) out << "the CRM application received nothing\n";
  for (const std::string& line : crm->journal()) out << line << '\n';
  return 0;
}

CLI::App* AddActionCommand(CLI::App& app, PosixEnv& env) {
  return AddActionCommand(app, env, std::cout, FullSessionLogic());
}

CLI::App* AddActionCommand(CLI::App& app, PosixEnv& env, std::ostream& out,
                           const SessionLogic& logic) {
  auto args = std::make_shared<ActionArgs>();
  CLI::App* cmd = app.add_subcommand(
      "action", "Carry out an action in the stand-in CRM application and show what it received");
  cmd->add_option("ACTION", args->action,
                  "Show Contact, Show Contact Item, New Contact, Run Macro, Activate Window")
      ->required();
  CLI::Option* id = cmd->add_option("--id", args->id, "client id of the contact");
  CLI::Option* item = cmd->add_option("--item", args->item, "item view, e.g. \"View Phone Log\"");
  CLI::Option* window = cmd->add_option("--window", args->window, "window to bring to the front");
  CLI::Option* macro = cmd->add_option("--macro", args->macro, "macro to run");
  cmd->add_flag("--new-window", args->new_window, "show the contact in a new list");
  CLI::Option* tel = cmd->add_option("--tel", args->tel, "the call's number");
  CLI::Option* nice_tel = cmd->add_option("--nice-tel", args->nice_tel, "the number as shown");
  cmd->add_flag("--no-crm", args->no_crm, "run with no CRM application at all");
  cmd->add_flag("--crm-busy", args->crm_busy, "the application reports that it is busy");
  cmd->add_flag("--crm-modal-view", args->crm_modal_view, "a modal view window is open");
  cmd->add_option("--crm-database", args->crm_database, "database the application has open");
  cmd->callback([=, &env, &out, &logic] {
    args->has_id = id->count() > 0;
    args->has_item = item->count() > 0;
    args->has_window = window->count() > 0;
    args->has_macro = macro->count() > 0;
    args->has_tel = tel->count() > 0;
    args->has_nice_tel = nice_tel->count() > 0;
    int rc = RunAction(env, *args, out, logic);
    if (rc != 0) throw CLI::RuntimeError(rc);
  });
  return cmd;
}

}  // namespace pellory::cli
