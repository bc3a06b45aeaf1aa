// The platform object that the real builds fill: it owns one adapter per
// port. The ports a build supplies at once (trace file, clock, regional
// formats, message loop) come with the constructor; every other port starts
// with an adapter that finds nothing and creates nothing ("not available")
// until a setter puts the real one in.
#pragma once

#include <memory>

#include "platform/env.h"

namespace pellory {

class AdapterEnv : public Env {
 public:
  AdapterEnv(std::unique_ptr<TraceFile> trace, std::unique_ptr<Clock> clock,
             std::unique_ptr<Regional> regional, std::unique_ptr<MessagePump> pump);
  ~AdapterEnv() override;
  AdapterEnv(const AdapterEnv&) = delete;
  AdapterEnv& operator=(const AdapterEnv&) = delete;

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
  // Puts `wrap(current trace adapter)` in its place (a wrapper that also
  // keeps the lines, say).
  template <typename Wrap>
  void wrap_trace(Wrap&& wrap) {
    set_trace(wrap(std::move(trace_)));
  }
  void set_clock(std::unique_ptr<Clock> p);
  void set_regional(std::unique_ptr<Regional> p);
  void set_registry(std::unique_ptr<Registry> p);
  void set_databases(std::unique_ptr<DatabaseEngines> p);
  void set_automation(std::unique_ptr<Automation> p);
  void set_windows(std::unique_ptr<WindowSystem> p);
  void set_keystrokes(std::unique_ptr<Keystrokes> p);
  void set_dialogs(std::unique_ptr<DialogHost> p);

 protected:
  void set_pump(std::unique_ptr<MessagePump> p);

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

}  // namespace pellory
