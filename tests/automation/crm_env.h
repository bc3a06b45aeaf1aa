// A test platform with the simulated desktop, the in-process object registry
// and keystrokes that type into the desktop.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/desktop.h"
#include "platform/posix/keystrokes.h"
#include "platform/posix/object_registry.h"
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

}  // namespace pellory::testing
