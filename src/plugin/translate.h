#pragma once

#include "platform/env.h"

namespace pellory {

// Fills the placeholders "<1>" and "<2>" of a dialog text. `key` is kept for
// callers that name their texts; it does not change the result.
Text Translate(Env& env, TextView key, TextView text, TextView p1 = {}, TextView p2 = {});

}  // namespace pellory
