// Finding the CRM application's windows by title, and the two small text
// operations the finder rests on.
#pragma once

#include <cstdint>

#include "platform/env.h"

namespace pellory {

// The first window whose title matches `title`: among the top-level windows
// when `start` is 0, else among the direct children of `start`; 0 when none
// does. A title holding "*" matches every window whose title contains it
// (without the asterisks); otherwise a window matches when its title begins
// with `title`, and a trailing "#" asks for the whole title. Case is ignored
// and hidden windows count like visible ones.
WindowHandle FindWindowTitle(Env& env, TextView title, WindowHandle start);

// `text` with every occurrence of `part` removed. An empty part removes
// nothing.
Text RidStr(Env& env, TextView text, TextView part);

// The characters before position `start` (1-based), then `insert`, then the
// characters from position start + length on. Positions are 16-bit: a start
// or end outside that range, a start before the first character or an end
// before it fails, and the result is then empty.
Text Stuff(Env& env, TextView text, int16_t start, int16_t length, TextView insert);

}  // namespace pellory
