// What every `pellory` subcommand shares: the platform object with the real
// adapters wired in (POSIX or Win32, see platform/platform_env.h), and the
// host's stored settings.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform_env.h"
#include "plugin/session.h"

namespace pellory::cli {

// The records a host stores for the plug-in: the settings record and the
// per-user record passed to Initialize, and the action record passed to
// DoAction.
struct HostSettings {
  Text data_rd;
  Text user_rd;
  Text action_rd;
  bool from_defaults = false;  // no settings file: DefaultHostSettings
};

// Where the host settings live: $PELLORY_HOST_SETTINGS, else
// $XDG_CONFIG_HOME/pellory/host.rec, else ~/.config/pellory/host.rec; on
// Windows %PELLORY_HOST_SETTINGS%, else %APPDATA%\Pellory\host.rec. Paths are
// UTF-8.
std::string HostSettingsPath();

// The settings used when no settings file exists: "DBFile" names the sample
// address book built with the program.
HostSettings DefaultHostSettings(Env& env);

// The settings file is one variable record (UTF-8) with the entries "DataRd",
// "UserRd" and "ActionRd", each holding a record. Returns false with
// `error` set when the file exists but cannot be read.
bool LoadHostSettings(Env& env, const std::string& path, HostSettings* settings,
                      std::string* error);
// Writes the file by writing a new file beside it and renaming it over the
// old one (ReplaceFileAtomically: a new file gets mode 0600, an existing one
// keeps its permissions); missing folders are created private (0700). False
// with `error` set when it cannot be written.
bool SaveHostSettings(Env& env, const std::string& path, const HostSettings& settings,
                      std::string* error);

// The trace file of one command's run: each line goes on to the trace log
// and is also kept, so that a failing command can show the reasons it
// logged without the reader having to find the log.
class RecordingTraceFile final : public TraceFile {
 public:
  explicit RecordingTraceFile(std::unique_ptr<TraceFile> log) : log_(std::move(log)) {}
  void AppendLine(TextView line) noexcept override;
  const std::vector<Text>& lines() const { return lines_; }

 private:
  std::unique_ptr<TraceFile> log_;
  std::vector<Text> lines_;
};

class CliContext {
 public:
  CliContext();
  CliContext(const CliContext&) = delete;
  CliContext& operator=(const CliContext&) = delete;

  // The platform object, adapters wired on first use.
  PlatformEnv& env();

  // The host settings, read on first use (defaults when there is no file).
  // Throws std::runtime_error when the file exists but cannot be read.
  HostSettings& settings();
  void SaveSettings();  // throws std::runtime_error on failure
  const std::string& settings_path() const { return settings_path_; }

  // A Session with every subsystem's logic, initialised with the stored
  // DataRd and UserRd and no callback object. Says on stderr when the
  // settings are the defaults (NoteDefaultSettings).
  std::unique_ptr<Session> OpenSession();

  // One line on stderr when no settings file exists and the defaults (the
  // sample address book) are in use; once per run.
  void NoteDefaultSettings();

  // After a command of this run failed: the reasons it wrote to the trace
  // log, and what to check, on stderr.
  void ReportFailure(const std::string& command) const;

 private:
  std::unique_ptr<PlatformEnv> env_;
  RecordingTraceFile* trace_ = nullptr;  // owned by env_
  bool defaults_ = false;
  bool defaults_noted_ = false;
  std::string settings_path_;
  std::unique_ptr<HostSettings> settings_;
};

// Sets DataRd's "Timeout" for the sessions of this run (the stored file is
// left as it is); `seconds` below 0 leaves the stored value.
void OverrideTimeout(CliContext& ctx, int seconds);

}  // namespace pellory::cli
