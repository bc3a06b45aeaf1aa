// The real adapters of the Windows build, one line each, and the places its
// programs keep their files.
// First: it keeps <windows.h> from renaming the window port's members.
#include "platform/win32/win32_window_system.h"

#include <cstdlib>

#include "platform/odbc/odbc_engines.h"
#include "platform/platform_env.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/win32_automation.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_data_source_prompt.h"
#include "platform/win32/win32_dialog_host.h"
#include "platform/win32/win32_env.h"
#include "platform/win32/win32_keystrokes.h"
#include "platform/win32/win32_message_pump.h"
#include "platform/win32/win32_regional.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_trace_file.h"

namespace pellory {

void WireWin32Adapters(Win32Env& env) {
  env.set_databases(std::make_unique<OdbcEngines>(Win32DataSourcePrompt));
  env.set_trace(std::make_unique<Win32TraceFile>());
  env.set_clock(std::make_unique<Win32Clock>());
  env.set_regional(std::make_unique<Win32Regional>());
  env.set_pump(std::make_unique<Win32MessagePump>());
  env.set_registry(std::make_unique<Win32Registry>());
  env.set_windows(std::make_unique<Win32WindowSystem>());
  env.set_keystrokes(std::make_unique<Win32Keystrokes>());
  env.set_automation(std::make_unique<Win32Automation>());
  env.set_dialogs(std::make_unique<Win32DialogHost>());
}

void WireAdapters(PlatformEnv& env) { WireWin32Adapters(env); }

std::string TraceLogPath() { return ToUtf8(Win32TraceFile().path()); }

std::string EnvironmentValue(const char* name) {
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide_name.c_str());
  if (!value || !*value) return std::string();
  return ToUtf8(FromWide(value, std::char_traits<wchar_t>::length(value)));
}

std::string UserSettingsFile(const std::string& file) {
  if (std::string a = EnvironmentValue("APPDATA"); !a.empty()) return a + "\\Pellory\\" + file;
  return std::string();
}

void UseDefaultOdbcConfiguration(const std::string&) {}

std::string InstalledDataFolder() { return std::string(); }

}  // namespace pellory
