// The platform object of this build (POSIX or Win32) and what a program
// needs to set it up: the real adapters, the places where the user's files
// go and the ODBC configuration. Each system's adapters implement it
// (posix/wire_adapters.cpp, win32/wire_adapters.cpp).
#pragma once

#include <string>

#ifdef _WIN32
#include "platform/win32/win32_env.h"
#else
#include "platform/posix/posix_env.h"
#endif

namespace pellory {

#ifdef _WIN32
using PlatformEnv = Win32Env;
#else
using PlatformEnv = PosixEnv;
#endif

// Puts the real adapters of this build into `env` (WireWin32Adapters or
// WirePosixAdapters).
void WireAdapters(PlatformEnv& env);

// Where this build's trace file writes, for messages.
std::string TraceLogPath();

// An environment variable's value (UTF-8); empty when it is unset or empty.
std::string EnvironmentValue(const char* name);

// `file` in the folder of the user's Pellory settings:
// $XDG_CONFIG_HOME/pellory, else ~/.config/pellory; on Windows
// %APPDATA%\Pellory. Empty when the system names no such folder.
std::string UserSettingsFile(const std::string& file);

// unixODBC reads its driver and data-source lists from `dir` unless the user
// has chosen other ones (ODBCSYSINI, ODBCINI). The Windows build always uses
// the system's driver manager and data sources and leaves `dir` alone.
void UseDefaultOdbcConfiguration(const std::string& dir);

// The folder of the installed program's data, `<prefix>/share/pellory` next
// to the `<prefix>/bin` that holds the running program, when it exists;
// empty for a program run from its build folder (and on Windows, where the
// zip has no such folder).
std::string InstalledDataFolder();

}  // namespace pellory
