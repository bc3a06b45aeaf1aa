// A simulated desktop for systems without a window system of the kind the
// CRM application runs on: top-level windows in Z order with class, title,
// visibility and children, one foreground window, and per-window handlers
// that receive messages and keys. Sent messages are delivered at once;
// posted messages and typed keys wait in a queue that the message pump
// drains, as on the platform the plug-in was made for.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "platform/key_notation.h"
#include "platform/window_system.h"

namespace pellory {

class ObjectRegistry;
class PosixEnv;

// What a window does with what reaches it; each handler is told which
// window it runs for. Every member may be left empty.
struct WindowHandlers {
  // A message; `sent` is false for one taken from the posted queue. Returns
  // the message's result (sent messages only).
  std::function<intptr_t(WindowHandle window, unsigned message, uintptr_t wparam, intptr_t lparam,
                         bool sent)>
      message;
  // A key pressed while the window is in the foreground.
  std::function<void(WindowHandle window, const KeyStroke& key)> key;
  // SetForegroundWindow was called for the window.
  std::function<void(WindowHandle window)> set_foreground;
};

class Desktop : public WindowSystem {
 public:
  struct WindowProps {
    Text class_name;
    Text title;
    bool visible = true;
    WindowHandle parent = 0;  // 0: a top-level window
  };

  Desktop();
  ~Desktop() override;
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  // Creates a window behind its siblings, so that a desktop listed from
  // front to back is built in that order. It does not become the
  // foreground window.
  WindowHandle CreateWindow(WindowProps props, WindowHandlers handlers = {});
  // Removes the window and its children; messages queued for them are
  // dropped. When the foreground window goes, the frontmost visible
  // top-level window takes its place.
  void DestroyWindow(WindowHandle window);
  bool IsWindow(WindowHandle window) const;
  Text ClassName(WindowHandle window) const;
  void SetTitle(WindowHandle window, TextView title);
  void SetVisible(WindowHandle window, bool visible);
  bool IsVisible(WindowHandle window) const;
  // Leaves the desktop with no foreground window.
  void ClearForeground() { foreground_ = 0; }
  // Top-level windows from front to back.
  std::vector<WindowHandle> TopLevelWindows() const;

  // Queues keys for whichever window is in the foreground when they are
  // delivered.
  void QueueKeys(const std::vector<KeyStroke>& keys);
  size_t PendingCount() const { return posted_.size() + keys_.size(); }
  // Delivers what is queued, as the message loop does: posted messages ahead
  // of keyboard input, each in the order queued. Returns how many went out.
  size_t DispatchPending();

  // WindowSystem
  WindowHandle ForegroundWindow() override;
  WindowHandle GetWindow(WindowHandle window, WindowRelation relation) override;
  Text WindowText(WindowHandle window, int max_bytes) override;
  WindowHandle FindWindow(const Text* class_name, const Text* title) override;
  intptr_t SendMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                       intptr_t lparam) override;
  bool PostMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                   intptr_t lparam) override;
  bool SetForegroundWindow(WindowHandle window) override;
  void SetTopmost(WindowHandle window, bool topmost) override;

 private:
  struct Window {
    WindowProps props;
    WindowHandlers handlers;
    std::vector<WindowHandle> children;  // front to back
  };
  struct Posted {
    WindowHandle window;
    unsigned message;
    uintptr_t wparam;
    intptr_t lparam;
  };

  const Window* Find(WindowHandle window) const;
  Window* Find(WindowHandle window);
  // The list of siblings the window stands in.
  std::vector<WindowHandle>* SiblingsOf(WindowHandle window);
  void BringToFront(WindowHandle window);

  std::map<WindowHandle, Window> windows_;
  std::vector<WindowHandle> top_level_;  // front to back
  WindowHandle foreground_ = 0;
  WindowHandle next_handle_ = 0x10010;
  std::deque<Posted> posted_;
  std::deque<KeyStroke> keys_;
};

// The simulated platform as the command line wires it.
struct SimulatedPlatform {
  Desktop& desktop;
  ObjectRegistry& registry;
};

// Puts a simulated desktop, keystrokes that type into it and an in-process
// object registry into `env`, and lets env's message pump drain the
// desktop's queue. A second call finds what the first one installed.
SimulatedPlatform WireSimulatedDesktop(PosixEnv& env);

}  // namespace pellory
