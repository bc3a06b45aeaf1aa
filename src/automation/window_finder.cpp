#include "automation/window_finder.h"

#include "plugin/trace_tags.h"

#include <algorithm>

#include "plugin/trap.h"

namespace pellory {
namespace {

// The title buffer asks for at most this many bytes, NUL included.
constexpr int kTitleBytes = 1000;

[[noreturn]] void Overflow() { throw Failure(u"Overflow", 6); }
[[noreturn]] void InvalidCall() { throw Failure(u"Invalid procedure call or argument", 5); }

int16_t Int16(int64_t value) {
  if (value < INT16_MIN || value > INT16_MAX) Overflow();
  return static_cast<int16_t>(value);
}

}  // namespace

Text Stuff(Env& env, TextView text, int16_t start, int16_t length, TextView insert) {
  Text result;
  Trap(env, tags::kStuff, [&] {
    const int16_t keep = Int16(int64_t{start} - 1);
    if (keep < 0) InvalidCall();
    const int16_t rest = Int16(int64_t{start} + length);
    if (rest < 1) InvalidCall();
    Text out(text.substr(0, std::min<size_t>(static_cast<size_t>(keep), text.size())));
    out += insert;
    if (static_cast<size_t>(rest) <= text.size()) out += text.substr(static_cast<size_t>(rest) - 1);
    result = std::move(out);
  });
  return result;
}

Text RidStr(Env& env, TextView text, TextView part) {
  Text result(text);
  if (part.empty()) return result;
  for (;;) {
    size_t p = result.find(part);
    if (p == Text::npos) break;
    // A step that fails would leave the text as it was and find the same
    // occurrence again, so the removal stops there.
    bool ok = Trap(env, tags::kRidStr, [&] {
      const int16_t start = Int16(static_cast<int64_t>(p) + 1);
      const int16_t length = Int16(static_cast<int64_t>(part.size()));
      result = Stuff(env, result, start, length, u"");
    });
    if (!ok) break;
  }
  return result;
}

WindowHandle FindWindowTitle(Env& env, TextView title, WindowHandle start) {
  const TextView tag = tags::kFindWindowTitle;
  WindowSystem& windows = env.windows();
  bool contains = false;
  Text pattern;
  WindowHandle found = 0;
  WindowHandle candidate = 0;
  Trap(env, tag, [&] { contains = title.find(u'*') != TextView::npos; });
  Trap(env, tag, [&] { pattern = UpperCase(RidStr(env, title, u"*")); });
  Trap(env, tag, [&] {
    candidate = start == 0
                    ? windows.GetWindow(windows.ForegroundWindow(), WindowRelation::kFirstSibling)
                    : windows.GetWindow(start, WindowRelation::kFirstChild);
  });
  while (candidate != 0) {
    Text name;
    bool matches = false;
    Trap(env, tag, [&] {
      name = windows.WindowText(candidate, kTitleBytes);
      if (size_t nul = name.find(u'\0'); nul != Text::npos) name.resize(nul);
      name.resize(std::min<size_t>(name.size(), kTitleBytes - 1));
      name = UpperCase(name);
    });
    Trap(env, tag, [&] {
      if (contains) {
        matches = name.find(pattern) != Text::npos;
      } else {
        name += u'#';
        matches = TextView(name).substr(0, pattern.size()) == pattern;
      }
    });
    if (matches) {
      found = candidate;
      break;
    }
    // A walk that cannot step on would examine the same window for ever.
    if (!Trap(env, tag,
              [&] { candidate = windows.GetWindow(candidate, WindowRelation::kNextSibling); })) {
      break;
    }
  }
  return found;
}

}  // namespace pellory
