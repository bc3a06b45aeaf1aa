// pellory: drives the plug-in from a terminal or a script.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
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

// Standard output through stdio that remembers its first lost write, so
// that a command whose output could not be written does not end as a
// success. Commands that write to stdout through stdio themselves (export)
// check their own writes.
class CheckedStdout : public std::streambuf {
 public:
  CheckedStdout() : saved_(std::cout.rdbuf(this)) {}
  ~CheckedStdout() override { std::cout.rdbuf(saved_); }
  CheckedStdout(const CheckedStdout&) = delete;
  CheckedStdout& operator=(const CheckedStdout&) = delete;

  // Writes out what is buffered. The errno of the first lost write, or 0
  // when everything was written.
  int Finish() {
    std::cout.flush();
    sync();
    return error_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
      return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
    }
    if (std::fputc(c, stdout) != EOF) return c;
    Lost();
    return traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const size_t done = std::fwrite(s, 1, static_cast<size_t>(n), stdout);
    if (done != static_cast<size_t>(n)) Lost();
    return static_cast<std::streamsize>(done);
  }
  int sync() override {
    if (std::fflush(stdout) == 0) return 0;
    Lost();
    return -1;
  }

 private:
  void Lost() {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
  }

  std::streambuf* saved_;
  int error_ = 0;
};

// The exit code once the command has run: 2 with the reason on standard
// error when its output was lost, unless the reader went away (EPIPE).
int Finished(CheckedStdout& out, const std::string& name, int status) {
  const int error = out.Finish();
  if (error == 0 || error == EPIPE) return status;
  std::cerr << name << ": cannot write the output: " << std::strerror(error) << "\n";
  return 2;
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
  CheckedStdout out;
  CLI::App app{"Pellory: the Maximizer contact-lookup plug-in, driven from the command line.",
               "pellory"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "pellory " PELLORY_VERSION);
  CliContext context;
  std::vector<std::pair<CLI::App*, std::function<int()>>> runs;
  for (const Command& command : Commands()) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    runs.emplace_back(sub, command.setup(*sub, context));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return Finished(out, "pellory", app.exit(e));
  }
  for (auto& [sub, run] : runs) {
    if (sub->parsed()) {
      const std::string name = "pellory " + sub->get_name();
      int status = 2;
      try {
        status = run();
      } catch (const std::exception& e) {
        std::cerr << name << ": " << e.what() << "\n";
      }
      if (status == 2) context.ReportFailure(sub->get_name());
      return Finished(out, name, status);
    }
  }
  return 2;
}
