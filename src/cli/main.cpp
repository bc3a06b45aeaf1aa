// pellory: drives the plug-in from a terminal or a script.
#include <clocale>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <shellapi.h>
#endif

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

#ifdef _WIN32
namespace {

// The command line as typed (UTF-16), in the UTF-8 the commands expect: argv
// holds it in the ANSI code page, which loses every character outside it.
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> out;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return out;
  for (int i = 0; i < count; ++i) {
    const std::wstring w(wide[i]);
    out.push_back(pellory::ToUtf8(pellory::Text(w.begin(), w.end())));
  }
  LocalFree(wide);
  return out;
}

}  // namespace
#endif

int main(int argc, char** argv) {
  using namespace pellory::cli;
  // Regional formats (decimal separator, dates) follow the user's locale.
  std::setlocale(LC_ALL, "");
#ifdef _WIN32
  std::vector<std::string> utf8_args = Utf8Arguments();
  std::vector<char*> utf8_argv;
  for (std::string& a : utf8_args) utf8_argv.push_back(a.data());
  utf8_argv.push_back(nullptr);
  if (!utf8_args.empty()) {
    argc = static_cast<int>(utf8_args.size());
    argv = utf8_argv.data();
  }
  // Everything printed is UTF-8.
  SetConsoleOutputCP(CP_UTF8);
#endif
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
      int status = 2;
      try {
        status = run();
      } catch (const std::exception& e) {
        std::cerr << "pellory " << sub->get_name() << ": " << e.what() << "\n";
      }
      if (status == 2) context.ReportFailure(sub->get_name());
      return status;
    }
  }
  return 2;
}
