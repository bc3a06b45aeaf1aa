// The dialogs' entry in the Session's logic table.
#pragma once

#include "platform/env.h"

namespace pellory {

// Builds the action dialog (`action` true) or the configuration dialog over
// the thread's configuration record, loads it and runs it modally through
// the platform's dialog host. OK rewrites the record; Cancel leaves it.
void ShowDialog(Env& env, bool action);

}  // namespace pellory
