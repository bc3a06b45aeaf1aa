// The trace log of the Windows build: one line appended per call, in the
// ANSI code page and ended with CR LF, to a file opened and closed around
// each write.
#pragma once

#include "platform/trace_file.h"

namespace pellory {

class Win32TraceFile : public TraceFile {
 public:
  explicit Win32TraceFile(Text path = u"c:\\wendle.log") : path_(std::move(path)) {}
  // Creates the file when it is missing; a file that cannot be opened or
  // written (no drive, no permission, locked) loses the line.
  void AppendLine(TextView line) noexcept override;
  const Text& path() const { return path_; }

 private:
  Text path_;
};

}  // namespace pellory
