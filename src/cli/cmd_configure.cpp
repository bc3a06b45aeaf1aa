// pellory configure: opens the configuration dialog (pages "lookup" and
// "user") or the action configuration dialog (page "action") on the terminal,
// as the host does through Configure, and stores what the dialog returns in
// the host settings: the settings record for the lookup and user pages, the
// action record for the action page. Exit status: 0 saved, 1 cancelled (or
// no terminal), 2 failure.
#include <unistd.h>

#include <iostream>
#include <stdexcept>
#include <string>

#include "assembly.h"
#include "cli/command.h"
#include "plugin/records.h"

namespace pellory::cli {
namespace {

struct ConfigureOptions {
  std::string page = "lookup";
};

std::string Get(Env& env, TextView rd, TextView name) { return ToUtf8(GetText(env, rd, name)); }

// What the settings record now says, without its password.
void DescribeSettings(Env& env, TextView rd, std::ostream& out) {
  const Text connection = GetText(env, rd, u"Connection");
  const bool sql = EqualsNoCase(GetText(env, rd, u"UseSQL"), u"True");
  if (sql) {
    out << "  SQL server: " << Get(env, connection, u"ConnName");
    if (std::string driver = Get(env, connection, u"Driver"); !driver.empty()) {
      out << " (" << driver << ")";
    }
    out << '\n';
  } else {
    out << "  data directory: " << Get(env, rd, u"Dbfile") << '\n';
  }
  std::string phones;
  for (int i = 1; i <= 4; ++i) {
    if (Get(env, rd, u"Phone" + IntegerText(i)) != "0")
      phones += (phones.empty() ? "" : ", ") + std::to_string(i);
  }
  out << "  telephone fields searched: " << (phones.empty() ? "none" : phones) << '\n';
  std::string user = Get(env, rd, u"DBUser");
  out << "  user: " << (user.empty() ? "(default)" : user)
      << (GetVar(env, rd, u"DBPwd").is_empty() ? ", default password" : ", password set") << '\n';
}

void DescribeAction(Env& env, TextView rd, std::ostream& out) {
  const std::string action = Get(env, rd, u"Action");
  out << "  action: " << (action.empty() ? "(none)" : action) << '\n';
  const Text upper = UpperCase(GetText(env, rd, u"Action"));
  if (upper == u"ACTIVATE WINDOW") out << "  window: " << Get(env, rd, u"Window") << '\n';
  if (upper == u"RUN MACRO") out << "  macro: " << Get(env, rd, u"Macro") << '\n';
  if (upper == u"SHOW CONTACT ITEM") out << "  item: " << Get(env, rd, u"Item") << '\n';
  if (upper.starts_with(u"SHOW CONTACT")) {
    out << "  new list: " << (Get(env, rd, u"NewWindow") == "0" ? "no" : "yes") << '\n';
  }
}

int RunConfigure(CliContext& ctx, const ConfigureOptions& options) {
  try {
    Env& env = ctx.env();
    HostSettings& settings = ctx.settings();
    Text page = FromUtf8(options.page);
    const bool action = UpperCase(page) == u"ACTION";
    Text& stored = action ? settings.action_rd : settings.data_rd;
#ifndef _WIN32
    if (!::isatty(0) || !::isatty(1)) {
      std::cerr << "pellory configure: the dialog needs a terminal on standard input and output; "
                   "nothing was changed\n";
    }
#endif
    Text rd = stored;
    Text result;
    {
      Session session(env, WireSubsystems);
      result = session.Configure(rd, page);
    }
    // Cancel hands back the stored record with "Page" added; OK writes a
    // record of its own that never holds "Page".
    Text cancelled = stored;
    AddVar(env, cancelled, u"Page", Variant(UpperCase(page)));
    if (result == cancelled) {
      std::cout << "Cancelled: the " << options.page << " settings were not changed.\n";
      return 1;
    }
    stored = result;
    ctx.SaveSettings();
    std::cout << "Saved the " << (action ? "action" : "settings") << " in " << ctx.settings_path()
              << ":\n";
    if (action) {
      DescribeAction(env, stored, std::cout);
    } else {
      DescribeSettings(env, stored, std::cout);
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "pellory configure: " << e.what() << '\n';
    return 2;
  }
}

const bool registered = RegisterCommand(
    "configure",
    "Set Pellory up in its configuration dialogs on the terminal and store the result in the "
    "host settings",
    [](CLI::App& sub, CliContext& ctx) {
      auto options = std::make_shared<ConfigureOptions>();
      sub.add_option("--page", options->page,
                     "lookup (data directory or SQL server, telephone fields), user (database "
                     "user and password) or action (the action that `pellory action` runs)")
          ->check(CLI::IsMember({"lookup", "user", "action"}, CLI::ignore_case))
          ->capture_default_str();
      return [options, &ctx] { return RunConfigure(ctx, *options); };
    });

}  // namespace
}  // namespace pellory::cli
