// Builds every subsystem of a Session: the database connection (crmdb), the
// lookup, the CRM application (automation) and the dialogs.
#pragma once

#include "plugin/session.h"

namespace pellory {

// The Assembly of the whole plug-in: Session session(env, WireSubsystems).
Subsystems WireSubsystems(Session& session);

}  // namespace pellory
