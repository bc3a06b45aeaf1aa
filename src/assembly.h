// Wires the working methods of every subsystem into the Session.
#pragma once

#include "plugin/session.h"

namespace pellory {

// The complete logic table of the plug-in.
const SessionLogic& FullSessionLogic();

}  // namespace pellory
