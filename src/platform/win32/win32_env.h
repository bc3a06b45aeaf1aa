// The platform object of the Windows build. Every port starts with a safe
// stand-in (no trace output, the system clock, fixed ISO date formats, no
// message loop, nothing found in the registry or on the desktop, no
// automation servers, no keystrokes, dialogs that close as Cancel);
// WireWin32Adapters puts the real Win32 adapters in.
#pragma once

#include <memory>

#include "platform/env.h"

namespace pellory {

class Win32Env : public Env {
 public:
  Win32Env();
  ~Win32Env() override;
  Win32Env(const Win32Env&) = delete;
  Win32Env& operator=(const Win32Env&) = delete;

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

  // Each setter ignores a null adapter, so a port is never left without one.
  void set_trace(std::unique_ptr<TraceFile> p);
  void set_clock(std::unique_ptr<Clock> p);
  void set_regional(std::unique_ptr<Regional> p);
  void set_pump(std::unique_ptr<MessagePump> p);
  void set_registry(std::unique_ptr<Registry> p);
  void set_databases(std::unique_ptr<DatabaseEngines> p);
  void set_automation(std::unique_ptr<Automation> p);
  void set_windows(std::unique_ptr<WindowSystem> p);
  void set_keystrokes(std::unique_ptr<Keystrokes> p);
  void set_dialogs(std::unique_ptr<DialogHost> p);

 private:
  std::unique_ptr<TraceFile> trace_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Regional> regional_;
  std::unique_ptr<MessagePump> pump_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<DatabaseEngines> databases_;
  std::unique_ptr<Automation> automation_;
  std::unique_ptr<WindowSystem> windows_;
  std::unique_ptr<Keystrokes> keystrokes_;
  std::unique_ptr<DialogHost> dialogs_;
};

// Puts the real Win32 adapters into `env` (one line per adapter).
void WireWin32Adapters(Win32Env& env);

}  // namespace pellory
