// ListSearch: finds a stored value among the entries of a list control.
#pragma once

#include <cstdint>

#include "platform/dialog_host.h"
#include "platform/env.h"
#include "platform/variant.h"

namespace pellory {

// The index of the first entry of `list` that matches `value`, or -1. A
// numeric value is compared with the entries' item data; any other value
// with the entry texts, without regard to case: whole texts, or with
// `prefix` the value against the beginning of each entry. Failures are
// written to the trace log; the result is then what was found so far.
int16_t ListSearch(Env& env, const Control& list, const Variant& value, bool prefix);

}  // namespace pellory
