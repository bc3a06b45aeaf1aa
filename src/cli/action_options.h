// The options of `pellory action` that make up the action record, shared by
// the POSIX command (stand-in CRM) and the Windows one (the running CRM).
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace pellory::cli {

struct ActionRecordOptions {
  std::string action;
  std::optional<std::string> id, item, window, macro, tel, nice_tel;
  bool new_window = false;
};

inline void AddActionRecordOptions(CLI::App& sub, ActionRecordOptions& o) {
  sub.add_option("ACTION", o.action,
                 "Show Contact, Show Contact Item, New Contact, Run Macro or Activate Window "
                 "(default: the action stored by `pellory configure --page action`)");
  auto text = [&sub](const char* name, std::optional<std::string>& value, const char* help) {
    sub.add_option_function<std::string>(
        name, [&value](const std::string& v) { value = v; }, help);
  };
  text("--id", o.id, "client id of the contact (\"Id\")");
  text("--item", o.item, "item view, such as \"View Phone Log\" (\"Item\")");
  text("--window", o.window, "window to bring to the front (\"Window\")");
  text("--macro", o.macro, "macro to run (\"Macro\")");
  sub.add_flag("--new-window", o.new_window, "show the contact in a new list (\"NewWindow\")");
  text("--tel", o.tel, "the call's number (\"Tel\")");
  text("--nice-tel", o.nice_tel, "the number as shown (\"NiceTel\")");
}

}  // namespace pellory::cli
