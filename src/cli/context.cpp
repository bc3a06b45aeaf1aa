#include "cli/context.h"

#include <iostream>
#include <stdexcept>

#include "assembly.h"
#include "platform/files.h"
#include "plugin/records.h"

#ifndef PELLORY_SAMPLE_DIR
#define PELLORY_SAMPLE_DIR "sample"
#endif
#ifndef PELLORY_ODBC_DIR
#define PELLORY_ODBC_DIR "odbc"
#endif

namespace pellory::cli {

void RecordingTraceFile::AppendLine(TextView line) noexcept {
  log_->AppendLine(line);
  try {
    lines_.emplace_back(line);
  } catch (...) {
  }
}

std::string HostSettingsPath() {
  if (std::string p = EnvironmentValue("PELLORY_HOST_SETTINGS"); !p.empty()) return p;
  if (std::string p = UserSettingsFile("host.rec"); !p.empty()) return p;
  return "host.rec";
}

namespace {

std::string SampleFolder() {
  // An installed program has its sample under its data folder; one run
  // from its build folder has it there.
  if (std::string installed = InstalledDataFolder(); !installed.empty()) {
    return installed + "/sample";
  }
  return PELLORY_SAMPLE_DIR;
}

}  // namespace

HostSettings DefaultHostSettings(Env& env) {
  HostSettings s;
  AddVar(env, s.data_rd, u"DBFile", Variant(FromUtf8(SampleFolder())));
  return s;
}

bool LoadHostSettings(Env& env, const std::string& path, HostSettings* settings,
                      std::string* error) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) {
    if (IsNotFoundError(LastSystemError())) {
      *settings = DefaultHostSettings(env);
      settings->from_defaults = true;
      return true;
    }
    *error = path + ": cannot be read";
    return false;
  }
  const Text rd = FromUtf8(bytes);
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
  MakePrivateFolders(ParentFolder(path));
  try {
    ReplaceFileAtomically(path, ToUtf8(rd) + "\n");
  } catch (const std::runtime_error& e) {
    *error = e.what();
    return false;
  }
  return true;
}

CliContext::CliContext() : settings_path_(HostSettingsPath()) {
  // An installed program uses the system's drivers and the user's data
  // sources, where its package registered the stand-in driver.
  if (InstalledDataFolder().empty()) UseDefaultOdbcConfiguration(PELLORY_ODBC_DIR);
}

PlatformEnv& CliContext::env() {
  if (!env_) {
    env_ = std::make_unique<PlatformEnv>();
    WireAdapters(*env_);
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
            << ": using the sample address book " << SampleFolder()
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
  auto session = std::make_unique<Session>(env(), WireSubsystems);
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
