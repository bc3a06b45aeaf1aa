// The command table of `pellory`. Each subcommand lives in its own file,
// src/cli/cmd_<name>.cpp, and registers itself at start-up:
//
//   const bool registered = pellory::cli::RegisterCommand(
//       "name", "one-line description", [](CLI::App& sub, CliContext& ctx) {
//         auto opts = std::make_shared<Options>();
//         sub.add_option("ARG", opts->arg, "...")->required();
//         return [opts, &ctx] { return Run(ctx, *opts); };  // the exit code
//       });
//
// main.cpp never needs editing to add a command.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "cli/context.h"
#include "plugin/deadline.h"

namespace pellory::cli {

// Declares the subcommand's options on `sub` and returns what runs it when
// it is the one chosen on the command line.
using CommandSetup = std::function<std::function<int()>(CLI::App& sub, CliContext& ctx)>;

struct Command {
  std::string name;
  std::string description;
  CommandSetup setup;
};

bool RegisterCommand(std::string name, std::string description, CommandSetup setup);

// Registered commands, sorted by name.
std::vector<Command> Commands();

// `--timeout SECONDS` of the lookup commands; `seconds` stays as it is when
// the option is not given. See OverrideTimeout.
inline void AddTimeoutOption(CLI::App& sub, int& seconds) {
  sub.add_option("--timeout", seconds,
                 "Give up after SECONDS (0: no limit), in place of the stored Timeout setting")
      ->check(CLI::Range(0, kMaxTimeout));
}

}  // namespace pellory::cli
