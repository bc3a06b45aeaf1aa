// `pellory record get|add`: reads and writes variable records from the
// command line, with the plug-in's own GetVar and AddVar.
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/command.h"
#include "platform/failure.h"
#include "plugin/records.h"

namespace pellory::cli {
namespace {

struct GetOptions {
  std::string record, name;
  std::optional<std::string> fallback;
};

struct AddOptions {
  std::string record, name, value;
  bool number = false, date = false, boolean = false, keep_empty = false;
};

int RunGet(CliContext& context, const GetOptions& o) {
  Env& env = context.env();
  const Variant fallback = o.fallback ? Variant(FromUtf8(*o.fallback)) : Variant();
  const Variant value = GetVar(env, FromUtf8(o.record), FromUtf8(o.name), fallback);
  if (value.is_empty()) {
    std::cerr << "pellory record get: no entry named " << o.name << "\n";
    return 1;
  }
  std::cout << ToUtf8(value.ToText(&env.regional())) << "\n";
  return 0;
}

Variant TypedValue(Env& env, const AddOptions& o) {
  const Text text = FromUtf8(o.value);
  try {
    if (o.number) {
      const double d = Variant(text).ToDouble();
      if (d == static_cast<double>(static_cast<int32_t>(d)) && d >= INT32_MIN && d <= INT32_MAX) {
        return Variant(static_cast<int32_t>(d));
      }
      return Variant(d);
    }
    if (o.boolean) return Variant(Variant(text).ToBool());
  } catch (const Failure&) {
    throw std::invalid_argument("\"" + o.value + "\" is not a " +
                                (o.number ? "number" : "truth value (True, False or a number)"));
  }
  if (o.date) {
    auto when = env.regional().ParseDateTime(text);
    if (!when) {
      throw std::invalid_argument("\"" + o.value + "\" is not a date or time of this locale");
    }
    return Variant(*when);
  }
  return Variant(text);
}

int RunAdd(CliContext& context, const AddOptions& o) {
  Env& env = context.env();
  Variant value;
  try {
    value = TypedValue(env, o);
  } catch (const std::invalid_argument& e) {
    std::cerr << "pellory record add: " << e.what() << "\n";
    return 2;
  }
  Text rd = FromUtf8(o.record);
  AddVar(env, rd, FromUtf8(o.name), value, o.keep_empty);
  std::cout << ToUtf8(rd) << "\n";
  return 0;
}

const bool registered = RegisterCommand(
    "record", "Read or write a variable record such as \"{Result=Fail}{Reason=...}\".",
    [](CLI::App& sub, CliContext& context) -> std::function<int()> {
      sub.require_subcommand(1);
      auto get_opts = std::make_shared<GetOptions>();
      CLI::App* get = sub.add_subcommand(
          "get", "Print the value of the entry NAME of RECORD (exit 1 when there is none).");
      get->add_option("RECORD", get_opts->record, "the record")->required();
      get->add_option("NAME", get_opts->name, "the entry's name (any letter case)")->required();
      get->add_option("--default", get_opts->fallback, "printed when there is no such entry");

      auto add_opts = std::make_shared<AddOptions>();
      CLI::App* add = sub.add_subcommand(
          "add", "Set the entry NAME of RECORD to VALUE and print the new record.");
      add->add_option("RECORD", add_opts->record, "the record")->required();
      add->add_option("NAME", add_opts->name, "the entry's name")->required();
      add->add_option("VALUE", add_opts->value, "the value (empty removes the entry)")->required();
      auto* number = add->add_flag("--number", add_opts->number, "VALUE is a number (type N)");
      auto* date = add->add_flag("--date", add_opts->date,
                                 "VALUE is a date/time in the locale's short date and long time "
                                 "(type D)");
      auto* boolean =
          add->add_flag("--bool", add_opts->boolean, "VALUE is True or False (written as text)");
      number->excludes(date)->excludes(boolean);
      date->excludes(boolean);
      add->add_flag("--keep-empty", add_opts->keep_empty, "write an empty VALUE as an entry");

      return [get, add, get_opts, add_opts, &context]() -> int {
        if (get->parsed()) return RunGet(context, *get_opts);
        if (add->parsed()) return RunAdd(context, *add_opts);
        return 2;
      };
    });

}  // namespace
}  // namespace pellory::cli
