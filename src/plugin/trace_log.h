// The trace log: one line per trapped failure.
#pragma once

#include "platform/env.h"

namespace pellory {

// Names the plug-in in the first field of every trace line.
inline constexpr char16_t kComponentName[] = u"Pellory";

// Writes "<component> - <short date> <long time>    @ <message>" to the
// trace log. Never fails towards its caller; messages about designer windows
// and unsupported address families are not written.
void LogError(Env& env, TextView message) noexcept;

// The line LogError writes for `message` at `when` (no line end).
Text TraceLine(const Regional& regional, DateTime when, TextView message);

}  // namespace pellory
