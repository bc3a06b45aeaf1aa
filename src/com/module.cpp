// The DLL's entry points: class object, unload test and self-registration.
#include "com/module.h"

#include <atomic>
#include <new>

#include "com/pellory.h"
#include "com/session_object.h"
#include "platform/odbc/background_call.h"

namespace pellory::com {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_locks{0};

// The one class object. It lives as long as the module, so its own
// reference count does not hold the module; LockServer does.
class SessionFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return SessionObject::Create(riid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }
};

SessionFactory g_factory;

}  // namespace

HMODULE ThisModule() { return g_module; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void LockModule() { ++g_locks; }
void UnlockModule() {
  // An unbalanced LockServer(FALSE) must not drive the count below zero.
  long n = g_locks.load();
  while (n > 0 && !g_locks.compare_exchange_weak(n, n - 1)) {
  }
}
long ModuleLocks() { return g_locks.load(); }

}  // namespace pellory::com

using namespace pellory::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Session)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

// A driver call that a lookup stopped waiting for still runs code of this
// module until the driver returns.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return ModuleLocks() == 0 && pellory::odbc::BackgroundCallsRunning() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return RegisterServer(false); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UnregisterServer(false); }

// regsvr32 /n /i:user registers for the current user only; without a
// command line (or with "machine") it registers for every user.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR command_line) {
  bool per_user = false;
  if (command_line && *command_line) {
    if (CompareStringOrdinal(command_line, -1, L"user", -1, TRUE) == CSTR_EQUAL) {
      per_user = true;
    } else if (CompareStringOrdinal(command_line, -1, L"machine", -1, TRUE) != CSTR_EQUAL) {
      return E_INVALIDARG;
    }
  }
  return install ? RegisterServer(per_user) : UnregisterServer(per_user);
}
