// Self-registration: the class, its two ProgIDs, the type library and the
// interface, for every user or for the current user only.
#include <string>

#include "com/module.h"
#include "com/pellory.h"

#include <olectl.h>

// Declared by the system's oleauto.h; mingw-w64's copy lacks them.
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* help_dir);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID library, WORD major, WORD minor, LCID lcid,
                                      SYSKIND syskind);

namespace pellory::com {
namespace {

constexpr wchar_t kProgId[] = L"Pellory.Session";
constexpr wchar_t kVersionedProgId[] = L"Pellory.Session.2";
constexpr wchar_t kDescription[] = L"Pellory Session";
constexpr WORD kLibMajor = 2;
constexpr WORD kLibMinor = 0;
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::wstring GuidText(REFGUID guid) {
  wchar_t buf[40];
  int n = StringFromGUID2(guid, buf, 40);
  return n > 0 ? std::wstring(buf, n - 1) : std::wstring();
}

// The classes root of the chosen hive, opened for writing.
class ClassesRoot {
 public:
  explicit ClassesRoot(bool per_user) {
    status_ =
        RegCreateKeyExW(per_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes", 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  }
  ~ClassesRoot() {
    if (key_) RegCloseKey(key_);
  }
  ClassesRoot(const ClassesRoot&) = delete;
  ClassesRoot& operator=(const ClassesRoot&) = delete;
  HKEY key() const { return key_; }
  LSTATUS status() const { return status_; }

 private:
  HKEY key_ = nullptr;
  LSTATUS status_ = ERROR_SUCCESS;
};

// Creates `subkey` under `root` and sets one string value (`name` null: the
// default value).
LSTATUS SetString(HKEY root, const std::wstring& subkey, const wchar_t* name,
                  const std::wstring& value) {
  HKEY key = nullptr;
  LSTATUS s =
      RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (s != ERROR_SUCCESS) return s;
  s = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return s;
}

std::wstring GetString(HKEY root, const std::wstring& subkey) {
  wchar_t buf[256];
  DWORD size = sizeof buf;
  if (RegGetValueW(root, subkey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buf, &size) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  return buf;
}

bool Gone(LSTATUS s) { return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND; }

// Deletes a ProgID key only while it still names our class: a later
// registration of another server under the same name is left alone.
LSTATUS DeleteProgId(HKEY root, const std::wstring& prog_id, const std::wstring& clsid) {
  std::wstring owner = GetString(root, prog_id + L"\\CLSID");
  if (owner.empty() ||
      CompareStringOrdinal(owner.c_str(), -1, clsid.c_str(), -1, TRUE) == CSTR_EQUAL) {
    return RegDeleteTreeW(root, prog_id.c_str());
  }
  return ERROR_SUCCESS;
}

// Removes `subkey` when it has neither subkeys nor values left.
void DeleteIfEmpty(HKEY root, const std::wstring& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 0, values = 0;
  LSTATUS s = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (s == ERROR_SUCCESS && subkeys == 0 && values == 0) RegDeleteKeyW(root, subkey.c_str());
}

// Runs `work` with HKEY_CLASSES_ROOT standing for `root`, so that type
// library (un)registration reaches the chosen hive even where the system's
// per-user variant writes to the machine's classes.
template <typename Work>
HRESULT WithClassesRoot(HKEY root, bool per_user, Work&& work) {
  if (!per_user) return work();
  LSTATUS s = RegOverridePredefKey(HKEY_CLASSES_ROOT, root);
  if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
  HRESULT hr = work();
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  return hr;
}

HRESULT RegisterTypeLibrary(HKEY root, bool per_user, const std::wstring& path) {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  std::wstring full_path = path;
  hr = WithClassesRoot(root, per_user, [&] {
    return per_user ? RegisterTypeLibForUser(library, full_path.data(), nullptr)
                    : RegisterTypeLib(library, full_path.data(), nullptr);
  });
  library->Release();
  return hr;
}

void UnregisterTypeLibrary(HKEY root, bool per_user) {
  WithClassesRoot(root, per_user, [&] {
    return per_user ? UnRegisterTypeLibForUser(LIBID_Pellory, kLibMajor, kLibMinor, 0, kSysKind)
                    : UnRegisterTypeLib(LIBID_Pellory, kLibMajor, kLibMinor, 0, kSysKind);
  });
  // What the system leaves of our own identifiers once this width is gone.
  const std::wstring lib = L"TypeLib\\" + GuidText(LIBID_Pellory);
  const std::wstring version = lib + L"\\2.0";
  const std::wstring width = kSysKind == SYS_WIN64 ? L"win64" : L"win32";
  RegDeleteTreeW(root, (version + L"\\0\\" + width).c_str());
  DeleteIfEmpty(root, version + L"\\0");
  DeleteIfEmpty(root, version + L"\\FLAGS");
  DeleteIfEmpty(root, version + L"\\HELPDIR");
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, (version + L"\\0").c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);  // the other width is still registered
  } else {
    RegDeleteTreeW(root, version.c_str());
    DeleteIfEmpty(root, lib);
    RegDeleteTreeW(root, (L"Interface\\" + GuidText(IID_ISession)).c_str());
  }
}

}  // namespace

HRESULT RegisterServer(bool per_user) {
  const std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  ClassesRoot classes(per_user);
  if (classes.status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(classes.status());
  HKEY root = classes.key();

  const std::wstring clsid = GuidText(CLSID_Session);
  const std::wstring clsid_key = L"CLSID\\" + clsid;
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } entries[] = {
      {clsid_key, nullptr, kDescription},
      {clsid_key + L"\\InprocServer32", nullptr, path},
      {clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid_key + L"\\ProgID", nullptr, kVersionedProgId},
      {clsid_key + L"\\VersionIndependentProgID", nullptr, kProgId},
      {clsid_key + L"\\TypeLib", nullptr, GuidText(LIBID_Pellory)},
      {clsid_key + L"\\Version", nullptr, L"2.0"},
      {kProgId, nullptr, kDescription},
      {std::wstring(kProgId) + L"\\CLSID", nullptr, clsid},
      {std::wstring(kProgId) + L"\\CurVer", nullptr, kVersionedProgId},
      {kVersionedProgId, nullptr, kDescription},
      {std::wstring(kVersionedProgId) + L"\\CLSID", nullptr, clsid},
  };
  HRESULT hr = S_OK;
  for (const auto& e : entries) {
    LSTATUS s = SetString(root, e.key, e.name, e.value);
    if (s != ERROR_SUCCESS) {
      hr = HRESULT_FROM_WIN32(s);
      break;
    }
  }
  if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(root, per_user, path);
  if (FAILED(hr)) {
    UnregisterServer(per_user);
    return hr == E_ACCESSDENIED || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) ? hr
                                                                                 : SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT UnregisterServer(bool per_user) {
  ClassesRoot classes(per_user);
  if (classes.status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(classes.status());
  HKEY root = classes.key();
  const std::wstring clsid = GuidText(CLSID_Session);
  UnregisterTypeLibrary(root, per_user);
  LSTATUS results[] = {
      DeleteProgId(root, kVersionedProgId, clsid),
      DeleteProgId(root, kProgId, clsid),
      RegDeleteTreeW(root, (L"CLSID\\" + clsid).c_str()),
  };
  for (LSTATUS s : results) {
    if (!Gone(s)) return HRESULT_FROM_WIN32(s);
  }
  return S_OK;
}

}  // namespace pellory::com
