// A test platform with the simulated desktop, the in-process object registry
// and keystrokes that type into the desktop, and the attach step that the
// actions begin with.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/desktop.h"
#include "platform/posix/keystrokes.h"
#include "platform/posix/object_registry.h"
#include "plugin/session.h"
#include "plugin/trap.h"
#include "support/fake_env.h"

namespace pellory::testing {

// Types into the desktop and remembers each sequence as it was given.
class RecordingKeystrokes : public Keystrokes {
 public:
  explicit RecordingKeystrokes(Desktop& desktop) : keys_(desktop) {}
  void SendKeys(TextView keys, bool wait) override {
    sent.emplace_back(keys);
    waited.push_back(wait);
    keys_.SendKeys(keys, wait);
  }
  std::vector<Text> sent;
  std::vector<bool> waited;

 private:
  DesktopKeystrokes keys_;
};

class DesktopEnv : public FakeEnv {
 public:
  DesktopEnv() : keys(desktop) {}
  Automation& automation() override { return registry; }
  WindowSystem& windows() override { return desktop; }
  Keystrokes& keystrokes() override { return keys; }

  // The messages of the trace lines written so far, without time stamps.
  std::vector<std::string> TraceMessages() const {
    std::vector<std::string> out;
    for (const Text& line : trace_file.lines) {
      std::string s = ToUtf8(line);
      size_t at = s.find("    @ ");
      out.push_back(at == std::string::npos ? s : s.substr(at + 6));
    }
    return out;
  }

  Desktop desktop;
  ObjectRegistry registry;
  RecordingKeystrokes keys;
};

// Attaches as the session's CheckRunning does: the attach object's
// application object becomes the session's, a failure leaves it as it was.
inline bool AttachLikeCheckRunning(Session& session, bool& start) {
  constexpr char16_t kTag[] = u" @ Pell.CheckRunning";
  Env& env = session.env();
  if (start) {
    std::shared_ptr<AutoObject> attach;
    Trap(env, kTag,
         [&] { attach = env.automation().CreateObject(u"Maximizer.AttachToCurrentInstance"); });
    Trap(env, kTag, [&] {
      if (!attach) throw Failure(u"Object variable or With block variable not set", 91);
      session.state().app = attach->Invoke(u"GetApplicationObject", {}).object_as<AutoObject>();
    });
  }
  return session.state().app != nullptr;
}

}  // namespace pellory::testing
