// The dialogs' entry in the Session's logic table.
#pragma once

#include "platform/env.h"

namespace pellory {

// Builds the action dialog (`action` true) or the configuration dialog over
// `config_rd`, loads it and runs it modally through the platform's dialog
// host. OK rewrites the record; Cancel leaves it.
void ShowDialog(Env& env, Text& config_rd, bool action);

}  // namespace pellory
