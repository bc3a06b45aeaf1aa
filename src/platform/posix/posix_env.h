// The platform object of the POSIX build: the POSIX trace file, clock,
// regional formats and message loop; every other port reports "not
// available" until WirePosixAdapters swaps in the real adapters.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/adapter_env.h"

namespace pellory {

// Where the trace log goes: $PELLORY_TRACE_LOG, else
// $XDG_STATE_HOME/pellory/wendle.log, else ~/.local/state/pellory/wendle.log,
// else /tmp/pellory-<uid>/wendle.log.
std::string DefaultTraceLogPath();

// Appends lines to a file created with mode 0600. The path is opened folder
// by folder and never through a symbolic link; missing folders are created
// with mode 0700. The folder that holds the file and every folder created
// must be the user's own and writable by no one else, and the file a
// regular file of the user's: otherwise the line is lost.
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
  double MonotonicSeconds() override;
};

// Formats of the process locale (LC_NUMERIC and LC_TIME as set by
// setlocale); the territory of the locale the environment names for
// messages (LC_ALL, else LC_MESSAGES, else LANG: the first that is set and
// not empty).
class PosixRegional : public Regional {
 public:
  char16_t DecimalSeparator() const override;
  Text ShortDate(int year, int month, int day) const override;
  Text LongTime(int hour, int minute, int second) const override;
  std::optional<DateTime> ParseDateTime(TextView text) const override;
  Text Territory() const override;
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

class PosixEnv : public AdapterEnv {
 public:
  PosixEnv();
  ~PosixEnv() override;

  // The message loop the platform object started with; event sources
  // attach to it.
  PosixMessagePump& posix_pump() { return *posix_pump_; }

 private:
  PosixMessagePump* posix_pump_;
};

// Puts the real POSIX adapters into `env` (one line per adapter):
// the .reg-file registry, the ODBC engines, the terminal dialogs and the
// simulated desktop.
void WirePosixAdapters(PosixEnv& env);

}  // namespace pellory
