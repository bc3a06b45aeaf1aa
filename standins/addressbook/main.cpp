// pellory-addressbook: creates and maintains address books of the stand-in Maximizer.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "addressbook.h"

namespace {

using pellory::standins::CreateOptions;
using pellory::standins::UserAccount;

constexpr const char* kUsage =
    "usage:\n"
    "  pellory-addressbook create DIR --csv FILE [--user NAME --password PWD]... "
    "[--no-default-user]\n"
    "  pellory-addressbook create DIR --synthetic N [--seed S] [--user NAME --password PWD]... "
    "[--no-default-user]\n"
    "  pellory-addressbook add-user DIR NAME PASSWORD\n"
    "  pellory-addressbook list-users DIR\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::uint64_t ParseCount(const std::string& option, const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 19) {
    throw UsageError(option + " needs a whole number, not '" + text + "'");
  }
  return std::stoull(text);
}

int Create(const std::vector<std::string>& args) {
  if (args.size() < 2) throw UsageError("create needs a directory");
  const std::string dir = args[1];
  std::string csv_file;
  bool synthetic = false;
  std::uint64_t count = 0;
  std::uint64_t seed = 1;
  CreateOptions options;

  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--csv") {
      csv_file = value();
    } else if (arg == "--synthetic") {
      synthetic = true;
      count = ParseCount(arg, value());
    } else if (arg == "--seed") {
      seed = ParseCount(arg, value());
    } else if (arg == "--user") {
      UserAccount user{value(), ""};
      if (i + 2 >= args.size() || args[i + 1] != "--password") {
        throw UsageError("--user " + user.name + " must be followed by --password");
      }
      ++i;
      user.password = value();
      options.users.push_back(std::move(user));
    } else if (arg == "--no-default-user") {
      options.default_user = false;
    } else {
      throw UsageError("unknown argument '" + arg + "'");
    }
  }
  if (synthetic == !csv_file.empty()) {
    throw UsageError("create needs exactly one of --csv and --synthetic");
  }

  if (synthetic) {
    pellory::standins::CreateSynthetic(dir, count, seed, options);
    std::cout << "created " << pellory::standins::AddressBookPath(dir).string() << " with " << count
              << " contacts\n";
    return 0;
  }
  std::ifstream in(csv_file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + csv_file);
  std::ostringstream text;
  text << in.rdbuf();
  const auto rows = pellory::standins::CreateFromCsv(dir, text.str(), options);
  std::cout << "created " << pellory::standins::AddressBookPath(dir).string() << " with " << rows
            << " contacts\n";
  return 0;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("no command given");
  const std::string& command = args[0];
  if (command == "create") return Create(args);
  if (command == "add-user") {
    if (args.size() != 4) throw UsageError("add-user needs DIR NAME PASSWORD");
    pellory::standins::AddUser(args[1], {args[2], args[3]});
    return 0;
  }
  if (command == "list-users") {
    if (args.size() != 2) throw UsageError("list-users needs DIR");
    for (const auto& name : pellory::standins::ListUsers(args[1])) std::cout << name << '\n';
    return 0;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << "pellory-addressbook: makes address books for the stand-in Maximizer ODBC driver "
                 "and manages their users.\n"
              << kUsage;
    return 0;
  }
  if (command == "--version") {
    std::cout << "pellory-addressbook " PELLORY_VERSION "\n";
    return 0;
  }
  throw UsageError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (const UsageError& e) {
    std::cerr << "pellory-addressbook: " << e.what() << '\n' << kUsage;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "pellory-addressbook: " << e.what() << '\n';
    return 1;
  }
}
