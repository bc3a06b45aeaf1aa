#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/win32/ansi_text.h"
#include "platform/win32/system_error.h"

namespace pellory {
namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// An open key, closed when it goes out of scope.
class OpenedKey {
 public:
  OpenedKey(RegistryRoot root, TextView key) {
    status_ = RegOpenKeyA(RootKey(root), ToAnsi(key).c_str(), &key_);
    if (status_ != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenedKey() {
    if (key_) RegCloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  LONG status() const { return status_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  LONG status_ = ERROR_SUCCESS;
};

// Opens the key for writing, creating it (and its parents) when missing.
HKEY CreateKey(RegistryRoot root, TextView key) {
  HKEY h = nullptr;
  LONG status = RegCreateKeyExA(RootKey(root), ToAnsi(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &h, nullptr);
  if (status != ERROR_SUCCESS) ThrowSystemError(static_cast<DWORD>(status));
  return h;
}

void SetValue(RegistryRoot root, TextView key, TextView name, DWORD type, const BYTE* data,
              DWORD size) {
  HKEY h = CreateKey(root, key);
  LONG status = RegSetValueExA(h, ToAnsi(name).c_str(), 0, type, data, size);
  RegCloseKey(h);
  if (status != ERROR_SUCCESS) ThrowSystemError(static_cast<DWORD>(status));
}

}  // namespace

Registry::OpenResult Win32Registry::OpenKey(RegistryRoot root, TextView key) {
  OpenedKey k(root, key);
  if (k.status() == ERROR_SUCCESS) return OpenResult::kOk;
  return k.status() == ERROR_FILE_NOT_FOUND ? OpenResult::kNotFound : OpenResult::kError;
}

std::optional<int32_t> Win32Registry::QueryDword(RegistryRoot root, TextView key, TextView name) {
  OpenedKey k(root, key);
  if (!k.get()) return std::nullopt;
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  LONG status = RegQueryValueExA(k.get(), ToAnsi(name).c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(&value), &size);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::optional<Text> Win32Registry::QueryString(RegistryRoot root, TextView key, TextView name,
                                               size_t max_bytes) {
  if (max_bytes == 0 || max_bytes > std::numeric_limits<DWORD>::max()) return std::nullopt;
  OpenedKey k(root, key);
  if (!k.get()) return std::nullopt;
  std::vector<char> buffer(max_bytes);
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(max_bytes);
  LONG status = RegQueryValueExA(k.get(), ToAnsi(name).c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(buffer.data()), &size);
  // ERROR_MORE_DATA: the value does not fit the buffer.
  if (status != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  size = std::min<DWORD>(size, static_cast<DWORD>(max_bytes));
  // A stored text may lack its terminating NUL: it then needs one more byte.
  size_t length = 0;
  while (length < size && buffer[length] != '\0') ++length;
  if (length == size && length == max_bytes) return std::nullopt;
  return FromAnsi(std::string_view(buffer.data(), length));
}

bool Win32Registry::DeleteKey(RegistryRoot root, TextView key) {
  // The empty name would stand for the root itself.
  if (Trim(key).empty()) return false;
  return RegDeleteKeyA(RootKey(root), ToAnsi(key).c_str()) == ERROR_SUCCESS;
}

void Win32Registry::SetString(RegistryRoot root, TextView key, TextView name, TextView value) {
  std::string bytes = ToAnsi(value);
  if (bytes.size() >= std::numeric_limits<DWORD>::max()) {
    throw Failure(u"The value is too long for the registry", ERROR_INVALID_PARAMETER);
  }
  SetValue(root, key, name, REG_SZ, reinterpret_cast<const BYTE*>(bytes.c_str()),
           static_cast<DWORD>(bytes.size() + 1));
}

void Win32Registry::SetDword(RegistryRoot root, TextView key, TextView name, int32_t value) {
  const DWORD data = static_cast<DWORD>(value);
  SetValue(root, key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

}  // namespace pellory
