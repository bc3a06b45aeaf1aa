// Module-wide bookkeeping of the in-process server: its own handle and the
// count of live objects and server locks that decides whether it may unload.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace pellory::com {

HMODULE ThisModule();
// The full path of this DLL ("" when it cannot be read).
std::wstring ModulePath();

// Live objects and LockServer(TRUE) calls both keep the module loaded.
void LockModule();
void UnlockModule();
long ModuleLocks();

// Writes or removes the server's registration: under
// HKEY_LOCAL_MACHINE\Software\Classes (per_user false) or
// HKEY_CURRENT_USER\Software\Classes (per_user true).
HRESULT RegisterServer(bool per_user);
HRESULT UnregisterServer(bool per_user);

}  // namespace pellory::com
