// JSON string literals for the command's machine-readable output.
#pragma once

#include <string>

#include "platform/text.h"

namespace pellory::cli {

// Appends `text` as a quoted JSON string (UTF-8, control characters escaped).
void AppendJsonString(std::string& out, TextView text);

}  // namespace pellory::cli
