#include "platform/win32/win32_trace_file.h"

#include <windows.h>

#include "platform/files.h"
#include "platform/win32/ansi_text.h"

namespace pellory {

void Win32TraceFile::AppendLine(TextView line) noexcept {
  try {
    std::string bytes = ToAnsi(line);
    bytes += "\r\n";
    // FILE_APPEND_DATA alone makes every write land at the current end, even
    // when another process appends between our open and our write.
    HANDLE file = CreateFileW(WidePtr(path_), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteAll(file, bytes);  // a line the file does not take is lost
    CloseHandle(file);
  } catch (...) {
  }
}

}  // namespace pellory
