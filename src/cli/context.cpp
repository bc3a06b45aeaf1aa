#include "cli/context.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "assembly.h"
#include "plugin/records.h"
#ifndef _WIN32
#include "platform/odbc/odbc_api.h"
#include "platform/odbc/odbc_engines.h"
#include "platform/posix/desktop.h"
#include "platform/posix/reg_registry.h"
#include "platform/posix/terminal_dialogs.h"
#endif

#ifndef PELLORY_SAMPLE_DIR
#define PELLORY_SAMPLE_DIR "sample"
#endif
#ifndef PELLORY_ODBC_DIR
#define PELLORY_ODBC_DIR "odbc"
#endif

namespace pellory::cli {
namespace {

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
  const Text t = FromUtf8(utf8);
  return std::wstring(t.begin(), t.end());
}

std::string Utf8(const wchar_t* wide) {
  const std::wstring w(wide);
  return ToUtf8(Text(w.begin(), w.end()));
}

// The user's setting, or empty when it is not set.
std::string Setting(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value && *value ? Utf8(value) : std::string();
}

std::string LastError() {
  wchar_t* text = nullptr;
  const DWORD code = GetLastError();
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = text ? Utf8(text) : "error " + std::to_string(code);
  LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

void DefaultOdbcConfiguration() {}  // the system's driver manager and data sources

void MakeFolders(const std::string& path) {
  const std::wstring dir = Wide(path.substr(0, path.find_last_of("\\/") + 1));
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == L'\\' || dir[i] == L'/') {
      if (i > 0 && dir[i - 1] == L':') continue;  // a drive
      CreateDirectoryW(dir.substr(0, i).c_str(), nullptr);
    }
  }
}
#else
// unixODBC reads its driver and data-source lists from the folder built with
// the program, unless the user has chosen other ones.
void DefaultOdbcConfiguration() {
  const std::string dir = PELLORY_ODBC_DIR;
  ::setenv("ODBCSYSINI", dir.c_str(), 0);
  ::setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 0);
}

void MakeFolders(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  const std::string dir = path.substr(0, slash);
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') ::mkdir(dir.substr(0, i).c_str(), 0700);
  }
}
#endif

}  // namespace

#ifndef _WIN32
void WirePosixAdapters(PosixEnv& env) {
  // One line per adapter, for example:
  //   env.set_registry(MakeRegFileRegistry());
  env.set_registry(
      std::make_unique<RegFileRegistry>(DefaultRegistryPath(), MakeOdbcDataSourceStore()));
  env.set_databases(std::make_unique<OdbcEngines>([](const std::vector<DataSourceInfo>& sources) {
    return TerminalDataSourcePrompt(sources, TryOdbcLogin);
  }));
  env.set_dialogs(std::make_unique<TerminalDialogHost>());
  WireSimulatedDesktop(env);  // windows, keystrokes and automation objects in-process
}
#endif

void RecordingTraceFile::AppendLine(TextView line) noexcept {
  log_->AppendLine(line);
  try {
    lines_.emplace_back(line);
  } catch (...) {
  }
}

std::string TraceLogPath() {
#ifdef _WIN32
  return "c:\\wendle.log";
#else
  return DefaultTraceLogPath();
#endif
}

std::string HostSettingsPath() {
#ifdef _WIN32
  if (std::string p = Setting(L"PELLORY_HOST_SETTINGS"); !p.empty()) return p;
  if (std::string a = Setting(L"APPDATA"); !a.empty()) return a + "\\Pellory\\host.rec";
  return "host.rec";
#else
  if (const char* p = std::getenv("PELLORY_HOST_SETTINGS"); p && *p) return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    return std::string(x) + "/pellory/host.rec";
  }
  if (const char* h = std::getenv("HOME"); h && *h) {
    return std::string(h) + "/.config/pellory/host.rec";
  }
  return "host.rec";
#endif
}

HostSettings DefaultHostSettings(Env& env) {
  HostSettings s;
  AddVar(env, s.data_rd, u"DBFile", Variant(FromUtf8(PELLORY_SAMPLE_DIR)));
  return s;
}

bool LoadHostSettings(Env& env, const std::string& path, HostSettings* settings,
                      std::string* error) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES &&
      (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
    *settings = DefaultHostSettings(env);
    settings->from_defaults = true;
    return true;
  }
  std::ifstream in(std::filesystem::path(Wide(path)), std::ios::binary);
  if (!in || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
    *settings = DefaultHostSettings(env);
    settings->from_defaults = true;
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in || S_ISDIR(st.st_mode)) {
#endif
    *error = path + ": cannot be read";
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  const Text rd = FromUtf8(ss.str());
  settings->data_rd = GetText(env, rd, u"DataRd");
  settings->user_rd = GetText(env, rd, u"UserRd");
  settings->action_rd = GetText(env, rd, u"ActionRd");
  return true;
}

bool SaveHostSettings(Env& env, const std::string& path, const HostSettings& settings,
                      std::string* error) {
  Text rd;
  AddVar(env, rd, u"DataRd", Variant(settings.data_rd), true);
  AddVar(env, rd, u"UserRd", Variant(settings.user_rd), true);
  AddVar(env, rd, u"ActionRd", Variant(settings.action_rd), true);
  const std::string bytes = ToUtf8(rd) + "\n";
  MakeFolders(path);
  const std::string temp = path + ".new";
#ifdef _WIN32
  HANDLE file = CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = temp + ": " + LastError();
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(file);
  std::string failure = ok ? std::string() : LastError();
  CloseHandle(file);
  if (ok && !MoveFileExW(Wide(temp).c_str(), Wide(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    failure = LastError();
  }
  if (!ok) {
    *error = path + ": " + failure;
    DeleteFileW(Wide(temp).c_str());
    return false;
  }
  return true;
#else
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = temp + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == bytes.size() && ::fsync(fd) == 0;
  const int saved_errno = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(written ? errno : saved_errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
#endif
}

CliContext::CliContext() : settings_path_(HostSettingsPath()) { DefaultOdbcConfiguration(); }

PlatformEnv& CliContext::env() {
  if (!env_) {
    env_ = std::make_unique<PlatformEnv>();
#ifdef _WIN32
    WireWin32Adapters(*env_);
#else
    WirePosixAdapters(*env_);
#endif
    env_->wrap_trace([this](std::unique_ptr<TraceFile> log) {
      auto recording = std::make_unique<RecordingTraceFile>(std::move(log));
      trace_ = recording.get();
      return recording;
    });
  }
  return *env_;
}

HostSettings& CliContext::settings() {
  if (!settings_) {
    auto s = std::make_unique<HostSettings>();
    std::string error;
    if (!LoadHostSettings(env(), settings_path_, s.get(), &error)) {
      throw std::runtime_error(error);
    }
    defaults_ = s->from_defaults;
    settings_ = std::move(s);
  }
  return *settings_;
}

void CliContext::SaveSettings() {
  std::string error;
  if (!SaveHostSettings(env(), settings_path_, settings(), &error)) {
    throw std::runtime_error(error);
  }
}

void CliContext::NoteDefaultSettings() {
  settings();
  if (!defaults_ || defaults_noted_) return;
  defaults_noted_ = true;
  std::cerr << "pellory: no host settings in " << settings_path_
            << ": using the sample address book " << PELLORY_SAMPLE_DIR
            << " (pellory configure sets up your own)\n";
}

void CliContext::ReportFailure(const std::string& command) const {
  if (trace_) {
    for (const Text& line : trace_->lines()) {
      // The reason and the place, without the log's date and time.
      const size_t at = line.find(u"@ ");
      std::cerr << "pellory " << command << ": "
                << ToUtf8(at == Text::npos ? TextView(line) : TextView(line).substr(at + 2))
                << "\n";
    }
  }
  std::cerr << "pellory " << command << ": check the host settings (" << settings_path_
            << "; pellory configure) and that the address book or data source they name can be "
               "opened; the trace log is "
            << TraceLogPath() << "\n";
}

std::unique_ptr<Session> CliContext::OpenSession() {
  NoteDefaultSettings();
  auto session = std::make_unique<Session>(env(), FullSessionLogic());
  Text data = settings().data_rd, user = settings().user_rd;
  ObjectRef callback;
  session->Initialize(data, user, callback);
  return session;
}

void OverrideTimeout(CliContext& ctx, int seconds) {
  if (seconds < 0) return;
  AddVar(ctx.env(), ctx.settings().data_rd, u"Timeout", Variant(static_cast<int32_t>(seconds)));
}

}  // namespace pellory::cli
