// The real adapters of the POSIX build, one line each, and the places its
// programs keep their files.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/odbc/odbc_engines.h"
#include "platform/platform_env.h"
#include "platform/posix/desktop.h"
#include "platform/posix/reg_registry.h"
#include "platform/posix/terminal_dialogs.h"

namespace pellory {

void WirePosixAdapters(PosixEnv& env) {
  env.set_registry(
      std::make_unique<RegFileRegistry>(DefaultRegistryPath(), MakeOdbcDataSourceStore()));
  env.set_databases(std::make_unique<OdbcEngines>([](const std::vector<DataSourceInfo>& sources) {
    return PromptForDataSource(sources, TryOdbcLogin);
  }));
  env.set_dialogs(std::make_unique<TerminalDialogHost>());
  WireSimulatedDesktop(env);  // windows, keystrokes and automation objects in-process
}

void WireAdapters(PlatformEnv& env) { WirePosixAdapters(env); }

std::string TraceLogPath() { return DefaultTraceLogPath(); }

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : std::string();
}

std::string UserSettingsFile(const std::string& file) {
  if (std::string x = EnvironmentValue("XDG_CONFIG_HOME"); !x.empty()) {
    return x + "/pellory/" + file;
  }
  if (std::string h = EnvironmentValue("HOME"); !h.empty()) return h + "/.config/pellory/" + file;
  return std::string();
}

void UseDefaultOdbcConfiguration(const std::string& dir) {
  ::setenv("ODBCSYSINI", dir.c_str(), 0);
  ::setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 0);
}

std::string InstalledDataFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  const std::string program(buffer, static_cast<size_t>(n));
  const size_t slash = program.rfind('/');
  if (slash == std::string::npos) return std::string();
  const std::string bin = program.substr(0, slash);
  if (bin.size() < 4 || bin.compare(bin.size() - 4, 4, "/bin") != 0) return std::string();
  std::string data = bin.substr(0, bin.size() - 4) + "/share/pellory";
  struct stat st;
  if (::stat(data.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::string();
  return data;
}

}  // namespace pellory
