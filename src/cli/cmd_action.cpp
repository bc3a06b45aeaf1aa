// pellory action: carries out one action against the stand-in CRM
// application and prints what the application received.
#include <iostream>
#include <memory>
#include <optional>

#include "assembly.h"
#include "cli/action_options.h"
#include "cli/command.h"
#include "plugin/records.h"
#include "plugin/trap.h"
#include "standins/crm/action_run.h"

namespace pellory::cli {
namespace {

struct Options : ActionRecordOptions {
  bool no_crm = false, crm_busy = false, crm_modal_view = false;
  std::string crm_database;
};

std::optional<Text> ToText(const std::optional<std::string>& s) {
  return s ? std::optional<Text>(FromUtf8(*s)) : std::nullopt;
}

// A value the stored action record holds, where the command line gave none.
std::optional<Text> Stored(Env& env, const Text& action_rd, const char16_t* key) {
  Text value = GetText(env, action_rd, key);
  return value.empty() ? std::nullopt : std::optional<Text>(value);
}

int Run(CliContext& ctx, const Options& o) {
  ctx.NoteDefaultSettings();
  const HostSettings& settings = ctx.settings();
  Env& env = ctx.env();
  standin::ActionCall call;
  call.action = FromUtf8(o.action);
  call.id = ToText(o.id);
  call.item = ToText(o.item);
  call.window = ToText(o.window);
  call.macro = ToText(o.macro);
  if (o.action.empty()) {
    // No action named: run the one stored by `pellory configure --page action`.
    const Text& stored = settings.action_rd;
    call.action = GetText(env, stored, u"Action");
    if (call.action.empty()) {
      std::cerr << "pellory action: no ACTION given and no action stored in the host settings "
                   "(pellory configure --page action)\n";
      return 2;
    }
    if (!call.item) call.item = Stored(env, stored, u"Item");
    if (!call.window) call.window = Stored(env, stored, u"Window");
    if (!call.macro) call.macro = Stored(env, stored, u"Macro");
    if (!o.new_window) {
      Trap(env, tags::kCliAction, [&] {
        call.new_window = GetVar(env, stored, u"NewWindow", Variant(int32_t{0})).ToBool();
      });
    }
  }
  call.tel = ToText(o.tel);
  call.nice_tel = ToText(o.nice_tel);
  call.new_window = call.new_window || o.new_window;
  call.no_crm = o.no_crm;
  call.crm_busy = o.crm_busy;
  call.crm_modal_view = o.crm_modal_view;
  call.crm_database = FromUtf8(o.crm_database);
  for (const std::string& line :
       standin::RunAction(ctx.env(), WireSubsystems, settings.data_rd, settings.user_rd, call)) {
    std::cout << line << '\n';
  }
  return 0;
}

const bool registered = RegisterCommand(
    "action", "Carry out an action in the stand-in CRM application and show what it received",
    [](CLI::App& sub, CliContext& ctx) {
      auto o = std::make_shared<Options>();
      AddActionRecordOptions(sub, *o);
      sub.add_flag("--no-crm", o->no_crm, "run with no CRM application at all");
      sub.add_flag("--crm-busy", o->crm_busy, "the CRM application reports that it is busy");
      sub.add_flag("--crm-modal-view", o->crm_modal_view,
                   "a modal view window of the CRM application is open");
      sub.add_option("--crm-database", o->crm_database,
                     "database the CRM application has open (default: the one the Session uses)");
      return [o, &ctx] { return Run(ctx, *o); };
    });

}  // namespace
}  // namespace pellory::cli
