// The platform object of the POSIX build. Every port starts with its POSIX
// adapter or, where the system has no counterpart yet, with one that reports
// "not available"; the command line swaps in the adapters it wires up.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace pellory {

// Where the trace log goes: $PELLORY_TRACE_LOG, else
// $XDG_STATE_HOME/pellory/wendle.log, else ~/.local/state/pellory/wendle.log.
std::string DefaultTraceLogPath();

// Appends lines to a file created with mode 0600 and never opened through a
// symbolic link or onto anything but a regular file.
class PosixTraceFile : public TraceFile {
 public:
  explicit PosixTraceFile(std::string path) : path_(std::move(path)) {}
  void AppendLine(TextView line) noexcept override;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class PosixClock : public Clock {
 public:
  double SecondsSinceMidnight() override;
  DateTime Now() override;
};

// Formats of the process locale (LC_NUMERIC and LC_TIME as set by setlocale).
class PosixRegional : public Regional {
 public:
  char16_t DecimalSeparator() const override;
  Text ShortDate(int year, int month, int day) const override;
  Text LongTime(int hour, int minute, int second) const override;
  std::optional<DateTime> ParseDateTime(TextView text) const override;
};

// The message loop of a process without windows: runs whatever event
// sources have been attached (the simulated desktop's posted messages, say).
class PosixMessagePump : public MessagePump {
 public:
  void DoEvents() override;
  void AddSource(std::function<void()> source) { sources_.push_back(std::move(source)); }

 private:
  std::vector<std::function<void()>> sources_;
};

class PosixEnv : public Env {
 public:
  PosixEnv();
  ~PosixEnv() override;

  TraceFile& trace() override { return *trace_; }
  Clock& clock() override { return *clock_; }
  Regional& regional() override { return *regional_; }
  MessagePump& pump() override { return *pump_; }
  Registry& registry() override { return *registry_; }
  DatabaseEngines& databases() override { return *databases_; }
  Automation& automation() override { return *automation_; }
  WindowSystem& windows() override { return *windows_; }
  Keystrokes& keystrokes() override { return *keystrokes_; }
  DialogHost& dialogs() override { return *dialogs_; }

  PosixMessagePump& posix_pump() { return *pump_; }

  void set_trace(std::unique_ptr<TraceFile> p) { trace_ = std::move(p); }
  void set_registry(std::unique_ptr<Registry> p) { registry_ = std::move(p); }
  void set_databases(std::unique_ptr<DatabaseEngines> p) { databases_ = std::move(p); }
  void set_automation(std::unique_ptr<Automation> p) { automation_ = std::move(p); }
  void set_windows(std::unique_ptr<WindowSystem> p) { windows_ = std::move(p); }
  void set_keystrokes(std::unique_ptr<Keystrokes> p) { keystrokes_ = std::move(p); }
  void set_dialogs(std::unique_ptr<DialogHost> p) { dialogs_ = std::move(p); }

 private:
  std::unique_ptr<TraceFile> trace_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Regional> regional_;
  std::unique_ptr<PosixMessagePump> pump_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<DatabaseEngines> databases_;
  std::unique_ptr<Automation> automation_;
  std::unique_ptr<WindowSystem> windows_;
  std::unique_ptr<Keystrokes> keystrokes_;
  std::unique_ptr<DialogHost> dialogs_;
};

}  // namespace pellory
