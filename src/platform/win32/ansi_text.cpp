#include "platform/win32/ansi_text.h"

#include <windows.h>

#include <climits>

namespace pellory {

std::string ToAnsi(TextView text) {
  if (text.empty() || text.size() > INT_MAX / 4) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  int n = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), n, nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

Text FromAnsi(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return Text();
  const int length = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  if (n <= 0) return Text();
  std::wstring out(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), n);
  return FromWide(out.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace pellory
