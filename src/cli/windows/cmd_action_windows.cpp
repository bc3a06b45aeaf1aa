// pellory action (Windows): carries out one action in the CRM application
// running on this desktop, through the same DoAction a host calls. The
// action record comes from the command line or, without ACTION, from the
// host settings.
#include <objbase.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/action_options.h"
#include "cli/command.h"
#include "plugin/records.h"

namespace pellory::cli {
namespace {

using Options = ActionRecordOptions;

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
      AddActionRecordOptions(sub, *o);
      return [o, &ctx] { return Run(ctx, *o); };
    });

}  // namespace
}  // namespace pellory::cli
