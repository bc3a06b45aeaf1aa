// Variable records: the text records of named values exchanged with the
// host ("{Result=Fail}{Reason=...}", "{Tel(S11)=01234 56789}").
#pragma once

#include "platform/env.h"

namespace pellory {

// The value of the first entry named `name` (without regard to case), as
// text, number ("N") or date ("D"); `fallback` when there is none. The
// length-prefixed form is preferred over the plain form.
Variant GetVar(Env& env, TextView rd, TextView name, const Variant& fallback = Variant());

// Removes the first entry named `name` and, unless the value's text is empty
// and `keep_empty` is false, appends "{name(<type><length>)=<value>}".
void AddVar(Env& env, Text& rd, TextView name, const Variant& value, bool keep_empty = false);

// GetVar read as text: nothing reads as the empty text.
Text GetText(Env& env, TextView rd, TextView name, const Variant& fallback = Variant());

}  // namespace pellory
