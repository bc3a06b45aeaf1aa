// `pellory action` drives the stand-in application on the simulated desktop
// of the POSIX build; the Windows build has no such desktop.
#include <iostream>

#include "cli/command.h"

namespace pellory::cli {
namespace {

const bool registered = RegisterCommand(
    "action", "Not available in the Windows build (it runs on the POSIX build's simulated desktop)",
    [](CLI::App& sub, CliContext&) -> std::function<int()> {
      sub.allow_extras();
      return [] {
        std::cerr << "pellory action: not available in the Windows build; the host runs actions "
                     "through pellory.dll (DoAction)\n";
        return 2;
      };
    });

}  // namespace
}  // namespace pellory::cli
