// standin-crm.exe: the stand-in CRM application for Windows.
//   standin-crm.exe /regserver | /unregserver
//   standin-crm.exe [--journal FILE] [--database PATH] [--address-book NAME]
//                   [--modal-view] [--busy [true|false|null|N]] [--timeout SECONDS]
#include <objbase.h>

#include <cstdio>
#include <cwchar>

#include "standins/crm-windows/standin_crm.h"

using namespace pellory;
using namespace pellory::standin;

namespace {

constexpr UINT_PTR kTimeoutTimer = 1;

void CALLBACK TimedOut(HWND window, UINT, UINT_PTR, DWORD) {
  KillTimer(window, kTimeoutTimer);
  State().Note("timeout");
  DestroyWindow(window);
}

int Fail(const char* what) {
  std::fprintf(stderr, "standin-crm: %s\n", what);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 &&
      (_wcsicmp(argv[1], L"/regserver") == 0 || _wcsicmp(argv[1], L"/unregserver") == 0)) {
    const bool reg = _wcsicmp(argv[1], L"/regserver") == 0;
    const RegisterResult result = RegisterServer(reg);
    if (result == RegisterResult::kFailed) {
      return Fail(reg ? "registration failed" : "removal failed");
    }
    if (result == RegisterResult::kMachine) {
      std::fprintf(stderr,
                   "standin-crm: the user's classes are not visible here; "
                   "registered for the machine as well\n");
    }
    return 0;
  }
  CrmOptions options;
  std::string error;
  if (!ParseOptions(argc - 1, argv + 1, &options, &error)) return Fail(error.c_str());

  CrmState& state = State();
  if (!options.journal.empty() && !state.journal.Open(options.journal)) {
    return Fail("cannot write the journal");
  }
  state.database_path = options.database_path;
  state.busy = options.busy;

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Fail("COM failed");
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterWindowClasses(instance)) return Fail("cannot register the window classes");
  if (options.modal_view && !CreateModalView(instance)) return Fail("cannot open the modal view");
  HWND main = CreateMainWindow(instance, options.address_book);
  if (!main) return Fail("cannot open the main window");
  ShowWindow(main, SW_SHOWNORMAL);
  if (state.modal_view) ShowWindow(state.modal_view, SW_SHOWNORMAL);
  SetForegroundWindow(main);
  // Setting up the windows is not something the application was asked to do.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (options.timeout_seconds > 0) {
    SetTimer(main, kTimeoutTimer, static_cast<UINT>(options.timeout_seconds * 1000), TimedOut);
  }

  state.active = GetActiveWindow();
  DWORD cookie = 0;
  if (FAILED(StartClassObject(&cookie))) return Fail("cannot offer the attach class");
  state.recording = true;
  state.Note("ready");

  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  StopClassObject(cookie);
  state.recording = false;
  CoUninitialize();
  return 0;
}
