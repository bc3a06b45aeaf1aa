// pellory action (Windows): carries out one action in the CRM application
// running on this desktop, through the same DoAction a host calls. The
// action record comes from the command line or, without ACTION, from the
// host settings.
#include <objbase.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/command.h"
#include "plugin/records.h"

namespace pellory::cli {
namespace {

struct Options {
  std::string action;
  std::optional<std::string> id, item, window, macro, tel, nice_tel;
  bool new_window = false;
};

// The thread joins a single-threaded apartment for the automation calls, as
// a host's thread would be.
class Apartment {
 public:
  Apartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~Apartment() {
    if (ok_) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

 private:
  bool ok_;
};

int Run(CliContext& ctx, const Options& o) {
  Env& env = ctx.env();
  Text record;
  if (o.action.empty()) {
    record = ctx.settings().action_rd;
    if (GetText(env, record, u"Action").empty()) {
      std::cerr << "pellory action: no ACTION given and no action stored in the host settings "
                   "(pellory configure --page action)\n";
      return 2;
    }
  } else {
    AddVar(env, record, u"Action", Variant(FromUtf8(o.action)));
  }
  auto put = [&](const char16_t* key, const std::optional<std::string>& value) {
    if (value) AddVar(env, record, key, Variant(FromUtf8(*value)));
  };
  put(u"Id", o.id);
  put(u"Item", o.item);
  put(u"Window", o.window);
  put(u"Macro", o.macro);
  put(u"Tel", o.tel);
  put(u"NiceTel", o.nice_tel);
  if (o.new_window) AddVar(env, record, u"NewWindow", Variant(int32_t{1}));

  Apartment apartment;
  std::unique_ptr<Session> session = ctx.OpenSession();
  session->DoAction(record);
  // Actions reply with nothing; failures went to the trace log.
  return 0;
}

const bool registered = RegisterCommand(
    "action", "Carry out an action in the running CRM application (as a host's DoAction does)",
    [](CLI::App& sub, CliContext& ctx) {
      auto o = std::make_shared<Options>();
      sub.add_option("ACTION", o->action,
                     "Show Contact, Show Contact Item, New Contact, Run Macro or Activate Window "
                     "(default: the action stored by `pellory configure --page action`)");
      auto text = [&sub](const char* name, std::optional<std::string>& value, const char* help) {
        sub.add_option_function<std::string>(
            name, [&value](const std::string& v) { value = v; }, help);
      };
      text("--id", o->id, "client id of the contact (\"Id\")");
      text("--item", o->item, "item view, such as \"View Phone Log\" (\"Item\")");
      text("--window", o->window, "window to bring to the front (\"Window\")");
      text("--macro", o->macro, "macro to run (\"Macro\")");
      sub.add_flag("--new-window", o->new_window, "show the contact in a new list (\"NewWindow\")");
      text("--tel", o->tel, "the call's number (\"Tel\")");
      text("--nice-tel", o->nice_tel, "the number as shown (\"NiceTel\")");
      return [o, &ctx] { return Run(ctx, *o); };
    });

}  // namespace
}  // namespace pellory::cli
