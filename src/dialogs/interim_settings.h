// Interim copies of the settings helpers that the CRM database subsystem
// provides (RegistryGet, FilePath). Removed when that subsystem is merged.
#pragma once

#include "platform/env.h"
#include "platform/variant.h"

namespace pellory {

Variant RegistryGet(Env& env, TextView key, TextView name, const Variant& fallback,
                    RegistryRoot root);
Text FilePath(Env& env, TextView path);

}  // namespace pellory
