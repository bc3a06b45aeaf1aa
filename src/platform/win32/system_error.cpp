#include "platform/win32/system_error.h"

#include "platform/win32/ansi_text.h"

namespace pellory {

Text SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text;
  if (n > 0 && buffer) text = FromWide(buffer, n);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) {
    text.pop_back();
  }
  if (text.empty()) text = u"System error " + IntegerText(code);
  return text;
}

void ThrowSystemError(DWORD code) { throw Failure(SystemErrorText(code), static_cast<long>(code)); }

}  // namespace pellory
