// pellory: drives the plug-in from a terminal or a script.
#include <clocale>
#include <iostream>
#include <map>
#include <memory>

#include "cli/command.h"

namespace pellory::cli {
namespace {

std::map<std::string, Command>& Table() {
  static std::map<std::string, Command> table;
  return table;
}

}  // namespace

bool RegisterCommand(std::string name, std::string description, CommandSetup setup) {
  auto key = name;
  Table()[key] = Command{std::move(name), std::move(description), std::move(setup)};
  return true;
}

std::vector<Command> Commands() {
  std::vector<Command> out;
  for (const auto& [name, command] : Table()) out.push_back(command);
  return out;
}

}  // namespace pellory::cli

int main(int argc, char** argv) {
  using namespace pellory::cli;
  // Regional formats (decimal separator, dates) follow the user's locale.
  std::setlocale(LC_ALL, "");
  CLI::App app{"Pellory: the Maximizer contact-lookup plug-in, driven from the command line.",
               "pellory"};
  app.require_subcommand(1);
  CliContext context;
  std::vector<std::pair<CLI::App*, std::function<int()>>> runs;
  for (const Command& command : Commands()) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    runs.emplace_back(sub, command.setup(*sub, context));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  for (auto& [sub, run] : runs) {
    if (sub->parsed()) {
      try {
        return run();
      } catch (const std::exception& e) {
        std::cerr << "pellory " << sub->get_name() << ": " << e.what() << "\n";
        return 2;
      }
    }
  }
  return 2;
}
