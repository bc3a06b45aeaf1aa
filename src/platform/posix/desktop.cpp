#include "platform/posix/desktop.h"

#include <algorithm>

#include "platform/posix/keystrokes.h"
#include "platform/posix/object_registry.h"
#include "platform/posix/posix_env.h"

namespace pellory {
namespace {

// Handlers that queue further messages from inside a delivery cannot keep
// the pump busy for ever.
constexpr size_t kMaxDeliveriesPerPump = 100000;

}  // namespace

Desktop::Desktop() = default;
Desktop::~Desktop() = default;

WindowHandle Desktop::CreateWindow(WindowProps props, WindowHandlers handlers) {
  WindowHandle parent = props.parent;
  if (parent != 0 && !Find(parent)) parent = 0;
  props.parent = parent;
  WindowHandle h = next_handle_;
  next_handle_ += 4;
  windows_.emplace(h, Window{std::move(props), std::move(handlers), {}});
  if (parent == 0) {
    top_level_.push_back(h);
  } else {
    Find(parent)->children.push_back(h);
  }
  return h;
}

void Desktop::DestroyWindow(WindowHandle window) {
  Window* w = Find(window);
  if (!w) return;
  std::vector<WindowHandle> children = w->children;
  for (WindowHandle child : children) DestroyWindow(child);
  if (auto* siblings = SiblingsOf(window)) std::erase(*siblings, window);
  std::erase_if(posted_, [window](const Posted& p) { return p.window == window; });
  windows_.erase(window);
  if (foreground_ == window) {
    // The system activates another window: the frontmost one still shown.
    foreground_ = 0;
    for (WindowHandle h : top_level_) {
      if (Find(h)->props.visible) {
        foreground_ = h;
        break;
      }
    }
  }
}

bool Desktop::IsWindow(WindowHandle window) const { return Find(window) != nullptr; }

Text Desktop::ClassName(WindowHandle window) const {
  const Window* w = Find(window);
  return w ? w->props.class_name : Text();
}

void Desktop::SetTitle(WindowHandle window, TextView title) {
  if (Window* w = Find(window)) w->props.title = Text(title);
}

void Desktop::SetVisible(WindowHandle window, bool visible) {
  if (Window* w = Find(window)) w->props.visible = visible;
}

bool Desktop::IsVisible(WindowHandle window) const {
  const Window* w = Find(window);
  return w && w->props.visible;
}

std::vector<WindowHandle> Desktop::TopLevelWindows() const { return top_level_; }

void Desktop::QueueKeys(const std::vector<KeyStroke>& keys) {
  keys_.insert(keys_.end(), keys.begin(), keys.end());
}

size_t Desktop::DispatchPending() {
  size_t delivered = 0;
  while (delivered < kMaxDeliveriesPerPump && (!posted_.empty() || !keys_.empty())) {
    ++delivered;
    if (!posted_.empty()) {
      Posted p = posted_.front();
      posted_.pop_front();
      const Window* w = Find(p.window);
      if (!w || !w->handlers.message) continue;
      auto handler = w->handlers.message;  // the window may go away while it runs
      handler(p.window, p.message, p.wparam, p.lparam, false);
      continue;
    }
    KeyStroke key = std::move(keys_.front());
    keys_.pop_front();
    const Window* w = Find(foreground_);
    if (!w || !w->handlers.key) continue;  // no one to type into: the key is lost
    auto handler = w->handlers.key;
    handler(foreground_, key);
  }
  return delivered;
}

WindowHandle Desktop::ForegroundWindow() { return foreground_; }

WindowHandle Desktop::GetWindow(WindowHandle window, WindowRelation relation) {
  if (!Find(window)) return 0;
  switch (relation) {
    case WindowRelation::kFirstSibling: {
      const auto* siblings = SiblingsOf(window);
      return siblings && !siblings->empty() ? siblings->front() : 0;
    }
    case WindowRelation::kNextSibling: {
      const auto* siblings = SiblingsOf(window);
      if (!siblings) return 0;
      auto it = std::find(siblings->begin(), siblings->end(), window);
      return it != siblings->end() && it + 1 != siblings->end() ? *(it + 1) : 0;
    }
    case WindowRelation::kFirstChild: {
      const Window* w = Find(window);
      return w->children.empty() ? 0 : w->children.front();
    }
  }
  return 0;
}

Text Desktop::WindowText(WindowHandle window, int max_bytes) {
  const Window* w = Find(window);
  if (!w || max_bytes <= 0) return Text();
  // Room for max_bytes - 1 characters and the terminating NUL.
  return w->props.title.substr(0, static_cast<size_t>(max_bytes - 1));
}

WindowHandle Desktop::FindWindow(const Text* class_name, const Text* title) {
  for (WindowHandle h : top_level_) {
    const Window& w = *Find(h);
    if (class_name && !EqualsNoCase(w.props.class_name, *class_name)) continue;
    if (title && !EqualsNoCase(w.props.title, *title)) continue;
    return h;
  }
  return 0;
}

intptr_t Desktop::SendMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                              intptr_t lparam) {
  const Window* w = Find(window);
  if (!w || !w->handlers.message) return 0;
  auto handler = w->handlers.message;
  return handler(window, message, wparam, lparam, true);
}

bool Desktop::PostMessage(WindowHandle window, unsigned message, uintptr_t wparam,
                          intptr_t lparam) {
  if (!Find(window)) return false;
  posted_.push_back(Posted{window, message, wparam, lparam});
  return true;
}

bool Desktop::SetForegroundWindow(WindowHandle window) {
  const Window* w = Find(window);
  if (!w) return false;
  // A child brings its top-level window forward.
  WindowHandle top = window;
  while (Find(top)->props.parent != 0) top = Find(top)->props.parent;
  BringToFront(top);
  foreground_ = top;
  if (w->handlers.set_foreground) {
    auto handler = w->handlers.set_foreground;
    handler(window);
  }
  return true;
}

void Desktop::SetTopmost(WindowHandle window, bool topmost) {
  if (topmost) BringToFront(window);
}

const Desktop::Window* Desktop::Find(WindowHandle window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

Desktop::Window* Desktop::Find(WindowHandle window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

std::vector<WindowHandle>* Desktop::SiblingsOf(WindowHandle window) {
  Window* w = Find(window);
  if (!w) return nullptr;
  if (w->props.parent == 0) return &top_level_;
  Window* parent = Find(w->props.parent);
  return parent ? &parent->children : nullptr;
}

void Desktop::BringToFront(WindowHandle window) {
  auto* siblings = SiblingsOf(window);
  if (!siblings) return;
  std::erase(*siblings, window);
  siblings->insert(siblings->begin(), window);
}

SimulatedPlatform WireSimulatedDesktop(PosixEnv& env) {
  auto* desktop = dynamic_cast<Desktop*>(&env.windows());
  if (!desktop) {
    auto owned = std::make_unique<Desktop>();
    desktop = owned.get();
    env.set_windows(std::move(owned));
    env.set_keystrokes(std::make_unique<DesktopKeystrokes>(*desktop));
    env.posix_pump().AddSource([desktop] { desktop->DispatchPending(); });
  }
  auto* registry = dynamic_cast<ObjectRegistry*>(&env.automation());
  if (!registry) {
    auto owned = std::make_unique<ObjectRegistry>();
    registry = owned.get();
    env.set_automation(std::move(owned));
  }
  return SimulatedPlatform{*desktop, *registry};
}

}  // namespace pellory
