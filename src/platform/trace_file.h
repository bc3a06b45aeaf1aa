// The trace log file. Each call opens the file for appending, writes one
// line and closes it again; any failure loses the line silently.
#pragma once

#include "platform/text.h"

namespace pellory {

class TraceFile {
 public:
  virtual ~TraceFile() = default;
  // `line` carries no line end; the adapter adds the platform's own.
  virtual void AppendLine(TextView line) noexcept = 0;
};

}  // namespace pellory
