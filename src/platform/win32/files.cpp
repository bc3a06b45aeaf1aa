#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "platform/win32/ansi_text.h"
#include "platform/win32/system_error.h"

namespace pellory {
namespace {

std::wstring Wide(const std::string& utf8) {
  const Text text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Closes a handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  // False, with the reason kept, when closing fails.
  bool Close() {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const bool ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

// Puts the new file in the old one's place. An existing file is replaced
// by ReplaceFileW, which gives the new file the old one's security and
// attributes; a new one is renamed into place.
bool MoveIntoPlace(const std::wstring& temp, const std::wstring& target) {
  if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
      ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                   nullptr)) {
    return true;
  }
  return MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

int LastSystemError() { return static_cast<int>(GetLastError()); }

std::string SystemErrorMessage(int error) {
  return ToUtf8(SystemErrorText(static_cast<DWORD>(error)));
}

bool IsNotFoundError(int error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool WriteAll(NativeFile file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  Handle file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  bytes->clear();
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) return false;
    if (n == 0) return true;
    bytes->append(buffer, n);
  }
}

void ReplaceFileAtomically(const std::string& path, std::string_view bytes, unsigned mode) {
  (void)mode;  // a new file takes the folder's permissions
  const std::wstring target = Wide(path);
  const std::wstring temp = Wide(path + "." + std::to_string(GetCurrentProcessId()) + ".new");
  Handle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    throw std::runtime_error(path + ": " + SystemErrorMessage(LastSystemError()));
  }
  bool ok = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
  DWORD error = GetLastError();
  if (!file.Close() && ok) {
    ok = false;
    error = GetLastError();
  }
  if (ok && !MoveIntoPlace(temp, target)) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) {
    DeleteFileW(temp.c_str());
    throw std::runtime_error(path + ": " + SystemErrorMessage(static_cast<int>(error)));
  }
}

std::string ParentFolder(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  if (end <= 1) return std::string();
  const std::string folder = path.substr(0, end - 1);
  if (!folder.empty() && folder.back() == ':') return std::string();  // the drive's root
  return folder;
}

void MakePrivateFolders(const std::string& folder) {
  const std::wstring dir = Wide(folder);
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == L'\\' || dir[i] == L'/') {
      if (dir[i - 1] == L':') continue;  // a drive
      CreateDirectoryW(dir.substr(0, i).c_str(), nullptr);
    }
  }
}

}  // namespace pellory
