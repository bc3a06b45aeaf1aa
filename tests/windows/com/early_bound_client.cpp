// An early-bound host: calls ISession through its vtable, compares the
// type library with the vtable and with the object's own IDispatch, and
// tries the dispatch error paths and the module's unload accounting.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <string>

#include "com/pellory.h"

namespace {

int failures = 0;
int checks = 0;

void Check(bool ok, const char* what) {
  ++checks;
  if (!ok) {
    ++failures;
    std::printf("FAIL: %s\n", what);
  }
}

// Owns a BSTR for the length of a check.
struct Bstr {
  BSTR p = nullptr;
  Bstr() = default;
  explicit Bstr(const wchar_t* s) : p(SysAllocString(s)) {}
  ~Bstr() { SysFreeString(p); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  std::wstring str() const { return p ? std::wstring(p, SysStringLen(p)) : std::wstring(); }
};

const wchar_t kCaps[] = L"{Client=1}{Server=1}{NeedContact=Show Contact,Show Contact Item}";
const wchar_t* const kNames[] = {
    L"Install",      L"Uninstall",        L"Configure",
    L"Initialize",   L"Uninitialize",     L"Load",
    L"Unload",       L"FindContact",      L"FindList",
    L"DoAction",     L"CacheStart",       L"CacheEnd",
    L"CacheRecord",  L"Capabilities",     L"Blocked",
    L"InstallReal",  L"UninitializeReal", L"InitializeReal",
    L"LoadReal",     L"UnloadReal",       L"FindReal",
    L"CheckRunning", L"DoActionReal",     L"CacheRecordReal",
    L"GetContact",   L"CapabilitiesReal", L"SetProperty",
    L"GetProperty",
};

// Calls `method` with `args` and a BSTR for its reply: the reply, "<failed>"
// when the call did not return S_OK, "<null>" when it left the reply null.
template <typename Method, typename... Args>
std::wstring Reply(ISession* s, Method method, Args... args) {
  Bstr r;
  if ((s->*method)(args..., &r.p) != S_OK) return L"<failed>";
  return r.p ? r.str() : L"<null>";
}

bool Has(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

void VtableCalls(ISession* s) {
  const std::wstring caps = Reply(s, &ISession::Capabilities);
  Check(caps.find(L"{Version=2.0}{Name=Maximizer}") == 0 && Has(caps, kCaps),
        "slot 14 Capabilities");
  Check(Reply(s, &ISession::CapabilitiesReal) == kCaps, "slot 26 CapabilitiesReal");
  VARIANT_BOOL blocked = VARIANT_TRUE;
  Check(s->Blocked(&blocked) == S_OK && blocked == VARIANT_FALSE, "slot 15 Blocked");
  for (auto method : {&ISession::Install, &ISession::Uninstall, &ISession::InstallReal,
                      &ISession::UninitializeReal, &ISession::Unload, &ISession::UnloadReal}) {
    Check(Reply(s, method).empty(), "an empty reply");
  }
  Bstr rd(L"{A=1}"), page(L"action"), none, nothing;
  const std::wstring configured = Reply(s, &ISession::Configure, &rd.p, &page.p);
  Check(configured.find(L"{A=1}") == 0 && Has(configured, L"=ACTION}"), "slot 3 Configure");
  Check(rd.str() == L"{A=1}" && page.str() == L"action", "Configure leaves its arguments");
  // Null BSTRs are empty text.
  Check(Reply(s, &ISession::Configure, &none.p, &nothing.p).empty(), "Configure with null BSTRs");

  Bstr data(L"{DBFile=C:\\nowhere\\mxza.max}"), user(L"");
  IDispatch* callback = s;
  Check(Reply(s, &ISession::Initialize, &data.p, &user.p, &callback).empty(), "slot 4 Initialize");
  Check(callback == s, "Initialize leaves the callback");
  VARIANT v;
  VariantInit(&v);
  Check(s->InitializeReal(&v) == S_OK &&
            (V_VT(&v) == VT_EMPTY || (V_VT(&v) == VT_BSTR && SysStringLen(V_BSTR(&v)) == 0)),
        "slot 18 InitializeReal");
  VariantClear(&v);
  Bstr vars(L"{X=1}"), empty;
  const std::wstring load = Reply(s, &ISession::Load, &vars.p);
  Check(Has(load, L"{Result=Fail}") && Has(load, L"Reason"),
        "slot 6 Load fails without a database");
  Check(Has(Reply(s, &ISession::LoadReal, &empty.p), L"Fail"), "slot 19 LoadReal");

  Bstr tel(L"{Tel=+44 (0)1234 567890}");
  Check(Has(Reply(s, &ISession::FindContact, tel.p), L"Fail"), "slot 8 FindContact");
  Check(!Has(Reply(s, &ISession::FindList, tel.p), L"Success"), "slot 9 FindList");
  Check(!Has(Reply(s, &ISession::FindReal, tel.p), L"Success"), "slot 21 FindReal");
  Bstr action(L"{Action=Show Contact}");
  Check(Reply(s, &ISession::DoAction, action.p).empty(), "slot 10 DoAction");
  Check(Reply(s, &ISession::DoActionReal, &action.p).empty(), "slot 23 DoActionReal");
  VARIANT_BOOL start = VARIANT_FALSE, running = VARIANT_TRUE;
  Check(s->CheckRunning(&start, &running) == S_OK && running == VARIANT_FALSE,
        "slot 22 CheckRunning");
  Check(Has(Reply(s, &ISession::CacheStart), L"Fail"), "slot 11 CacheStart");
  Check(!Has(Reply(s, &ISession::CacheRecord), L"Success"), "slot 13 CacheRecord");
  Check(!Has(Reply(s, &ISession::CacheRecordReal), L"Success"), "slot 24 CacheRecordReal");
  Check(!Has(Reply(s, &ISession::CacheEnd), L"Success"), "slot 12 CacheEnd");
  VARIANT res;
  VariantInit(&res);
  Check(Reply(s, &ISession::GetContact, &res) != L"<failed>", "slot 25 GetContact");
  VariantClear(&res);

  Bstr prop(L"P");
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = 7;
  Check(Reply(s, &ISession::SetProperty, &prop.p, &value).empty() && V_VT(&value) == VT_I4 &&
            V_I4(&value) == 7,
        "slot 27 SetProperty");
  Check(Reply(s, &ISession::GetProperty, &prop.p).empty(), "slot 28 GetProperty");
  Check(Reply(s, &ISession::Uninitialize).empty(), "slot 5 Uninitialize");
  Check(s->Capabilities(nullptr) == E_POINTER, "a null reply pointer is refused");
}

// The type library's functions sit in the vtable in our order, and the
// object's own name lookup agrees with the type library's.
void TypeLibrary(ISession* s) {
  UINT count = 0;
  Check(s->GetTypeInfoCount(&count) == S_OK && count == 1, "GetTypeInfoCount");
  ITypeInfo* info = nullptr;
  Check(s->GetTypeInfo(1, 0, &info) == DISP_E_BADINDEX, "GetTypeInfo refuses index 1");
  if (s->GetTypeInfo(0, 0, &info) != S_OK || !info) {
    Check(false, "GetTypeInfo");
    return;
  }
  ITypeInfo* again = nullptr;
  Check(s->GetTypeInfo(0, 0, &again) == S_OK && again == info, "the type information is kept");
  if (again) again->Release();
  // A dual interface's type info is the dispatch view; its vtable view
  // holds the offsets.
  ITypeInfo* vtable = info;
  HREFTYPE ref = 0;
  if (info->GetRefTypeOfImplType(-1, &ref) == S_OK) info->GetRefTypeInfo(ref, &vtable);
  int matched = 0;
  for (int i = 0; i < 28; ++i) {
    FUNCDESC* desc = nullptr;
    if (vtable->GetFuncDesc(i, &desc) != S_OK) break;
    BSTR name = nullptr;
    UINT got = 0;
    vtable->GetNames(desc->memid, &name, 1, &got);
    const int slot = desc->oVft / static_cast<int>(sizeof(void*));
    for (int n = 0; n < 28; ++n) {
      if (name && std::wstring(name) == kNames[n] && slot == 7 + n && desc->memid == n + 1) {
        ++matched;
      }
    }
    SysFreeString(name);
    vtable->ReleaseFuncDesc(desc);
  }
  Check(matched == 28, "all 28 methods in slot order after IDispatch");
  for (const wchar_t* name : kNames) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    DISPID ours = 0, theirs = 1;
    s->GetIDsOfNames(IID_NULL, names, 1, 0, &ours);
    info->GetIDsOfNames(names, 1, &theirs);
    Check(ours == theirs, "GetIDsOfNames agrees with the type library");
  }
  if (vtable != info) vtable->Release();
  info->Release();

  LPOLESTR lower[3] = {const_cast<LPOLESTR>(L"configure"), const_cast<LPOLESTR>(L"PAGE"),
                       const_cast<LPOLESTR>(L"nope")};
  DISPID ids[3] = {0, 0, 0};
  Check(s->GetIDsOfNames(IID_NULL, lower, 3, 0, ids) == DISP_E_UNKNOWNNAME && ids[0] == 3 &&
            ids[1] == 1 && ids[2] == DISPID_UNKNOWN,
        "names and parameter names without regard to case");
  LPOLESTR unknown[1] = {const_cast<LPOLESTR>(L"Configur")};
  Check(s->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids) == DISP_E_UNKNOWNNAME &&
            ids[0] == DISPID_UNKNOWN,
        "an unknown name");
}

HRESULT Call(ISession* s, DISPID id, VARIANT* args, UINT count, VARIANT* result, UINT* arg_err,
             WORD flags = DISPATCH_METHOD, DISPID* named = nullptr, UINT named_count = 0) {
  DISPPARAMS params = {args, named, count, named_count};
  return s->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, arg_err);
}

void DispatchRules(ISession* s) {
  VARIANT result;
  VariantInit(&result);
  UINT err = 99;
  Check(Call(s, 14, nullptr, 0, &result, &err) == S_OK && V_VT(&result) == VT_BSTR,
        "Invoke Capabilities");
  VariantClear(&result);
  Check(Call(s, 15, nullptr, 0, &result, &err, DISPATCH_PROPERTYGET) == S_OK &&
            V_VT(&result) == VT_BOOL && V_BOOL(&result) == VARIANT_FALSE,
        "Invoke Blocked as a property get");
  Check(Call(s, 99, nullptr, 0, &result, &err) == DISP_E_MEMBERNOTFOUND, "unknown DISPID");
  Check(Call(s, 14, nullptr, 0, &result, &err, DISPATCH_PROPERTYPUT) == DISP_E_MEMBERNOTFOUND,
        "nothing can be assigned");

  // Configure(rd, page): rgvarg holds page first.
  VARIANT args[3];
  for (VARIANT& a : args) VariantInit(&a);
  BSTR page_text = SysAllocString(L"action");
  V_VT(&args[0]) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&args[0]) = &page_text;
  V_VT(&args[1]) = VT_NULL;  // rd
  err = 99;
  Check(Call(s, 3, args, 2, &result, &err) == DISP_E_TYPEMISMATCH && err == 1,
        "a Null rd is a type mismatch at its own position");
  V_VT(&args[1]) = VT_ERROR;
  V_ERROR(&args[1]) = DISP_E_PARAMNOTFOUND;
  err = 99;
  Check(Call(s, 3, args, 2, &result, &err) == DISP_E_PARAMNOTOPTIONAL && err == 1,
        "a left-out rd is not optional");
  Check(Call(s, 3, args, 1, &result, &err) == DISP_E_BADPARAMCOUNT, "too few arguments");
  Check(Call(s, 3, args, 3, &result, &err) == DISP_E_BADPARAMCOUNT, "too many arguments");
  DISPID named[1] = {0};
  Check(Call(s, 3, args, 2, &result, &err, DISPATCH_METHOD, named, 1) == DISP_E_NONAMEDARGS,
        "named arguments");

  // A variant passed by reference (a script's variable): numbers read as text.
  VARIANT rd_var;
  VariantInit(&rd_var);
  V_VT(&rd_var) = VT_I4;
  V_I4(&rd_var) = 42;
  V_VT(&args[1]) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&args[1]) = &rd_var;
  VariantInit(&result);
  Check(Call(s, 3, args, 2, &result, &err) == S_OK && V_VT(&result) == VT_BSTR &&
            std::wstring(V_BSTR(&result)).find(L"42") == 0,
        "a number in a by-reference variant reads as text");
  Check(V_VT(&rd_var) == VT_I4 && V_I4(&rd_var) == 42, "an unchanged variable keeps its type");
  VariantClear(&result);
  SysFreeString(page_text);

  // CheckRunning(Start) with a variant holding a text Boolean.
  VARIANT start;
  VariantInit(&start);
  V_VT(&start) = VT_BSTR;
  V_BSTR(&start) = SysAllocString(L"False");
  V_VT(&args[0]) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&args[0]) = &start;
  Check(Call(s, 22, args, 1, &result, &err) == S_OK && V_VT(&result) == VT_BOOL,
        "CheckRunning with the text False");
  VariantClear(&start);
  V_VT(&args[0]) = VT_BSTR;
  V_BSTR(&args[0]) = SysAllocString(L"maybe");
  Check(Call(s, 22, args, 1, &result, &err) == DISP_E_TYPEMISMATCH && err == 0,
        "CheckRunning with a text that is no Boolean");
  VariantClear(&args[0]);
  // No result variant wanted.
  Check(Call(s, 14, nullptr, 0, nullptr, nullptr) == S_OK, "Invoke without a result");
}

using CanUnload = HRESULT(STDAPICALLTYPE*)();

// The module's DllCanUnloadNow, or null.
CanUnload CanUnloadNow() {
  HMODULE module = GetModuleHandleW(L"pellory.dll");
  return module ? reinterpret_cast<CanUnload>(
                      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")))
                : nullptr;
}

void UnloadAccounting(ISession* s) {
  const CanUnload can_unload = CanUnloadNow();
  if (!can_unload) {
    Check(false, "DllCanUnloadNow is exported");
    return;
  }
  Check(can_unload() == S_FALSE, "a live object keeps the module");
  ULONG left = s->Release();
  Check(left == 0 && can_unload() == S_OK, "the last release lets it go");
  IClassFactory* factory = nullptr;
  if (CoGetClassObject(CLSID_Session, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                       reinterpret_cast<void**>(&factory)) != S_OK) {
    Check(false, "class object");
    return;
  }
  factory->LockServer(TRUE);
  Check(can_unload() == S_FALSE, "LockServer keeps the module");
  factory->LockServer(FALSE);
  factory->LockServer(FALSE);  // one too many must not go below zero
  ISession* again = nullptr;
  Check(factory->CreateInstance(nullptr, IID_ISession, reinterpret_cast<void**>(&again)) == S_OK,
        "CreateInstance after an unbalanced unlock");
  Check(can_unload() == S_FALSE, "the count still holds the new object");
  if (again) again->Release();
  Check(can_unload() == S_OK, "and lets go after it");
  IUnknown* inner = nullptr;
  Check(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                reinterpret_cast<void**>(&inner)) == CLASS_E_NOAGGREGATION,
        "no aggregation");
  Check(factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(&inner)) ==
                E_NOINTERFACE &&
            can_unload() == S_OK,
        "an unknown interface leaves nothing alive");
  factory->Release();
}

// A host may drop its last reference from inside a call that runs the
// message loop (here the modal loop of Configure's dialog, which the test's
// dialog closer ends): the call still finishes on a live object, and the
// object goes when the call returns.
ISession* g_released_inside = nullptr;
bool g_released = false;
HRESULT g_alive_after_release = E_FAIL;  // DllCanUnloadNow right after the release
CanUnload g_can_unload = nullptr;

LRESULT CALLBACK ReleasingWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP && g_released_inside) {
    g_released_inside->Release();
    g_released_inside = nullptr;
    g_released = true;
    if (g_can_unload) g_alive_after_release = g_can_unload();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void ReleasedInsideCall() {
  const CanUnload can_unload = CanUnloadNow();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = ReleasingWindow;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PelloryTestReleaser";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                wc.hInstance, nullptr);
  ISession* s = nullptr;
  if (!window || CoCreateInstance(CLSID_Session, nullptr, CLSCTX_INPROC_SERVER, IID_ISession,
                                  reinterpret_cast<void**>(&s)) != S_OK) {
    Check(false, "a window and an object for the release test");
    return;
  }
  g_released_inside = s;
  g_released = false;
  g_can_unload = can_unload;
  PostMessageW(window, WM_APP, 0, 0);
  Bstr rd(L"{R=1}"), page(L"user"), r;
  HRESULT hr = s->Configure(&rd.p, &page.p, &r.p);
  Check(g_released, "the host released the object while the dialog ran");
  Check(g_alive_after_release == S_FALSE, "the running call kept the object alive");
  Check(hr == S_OK && r.str() == L"{R=1}{Page(S4)=USER}", "the call finished on a live object");
  Check(!can_unload || can_unload() == S_OK, "the object went when the call returned");
  DestroyWindow(window);
}

// Objects on other apartment threads work on their own, with per-thread
// state of every kind (settings record, database engines, trace output),
// share the module's one type information, and their threads end cleanly
// while the process goes on.
// Wine 8's text shaping is not safe for edit controls filled on two threads
// at the same moment (a crash inside its Uniscribe cache, seen in the 32-bit
// build), so the threads take turns with their dialogs; everything else
// runs side by side.
CRITICAL_SECTION g_dialog_turn;
// The type information of the first thread's object: every object of the
// module, in any apartment, hands out this one.
ITypeInfo* g_type_info = nullptr;

DWORD WINAPI OtherThread(void* arg) {
  const int n = static_cast<int>(reinterpret_cast<INT_PTR>(arg));
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  DWORD ok = 1;
  for (int round = 0; round < 2; ++round) {
    ISession* s = nullptr;
    if (CoCreateInstance(CLSID_Session, nullptr, CLSCTX_INPROC_SERVER, IID_ISession,
                         reinterpret_cast<void**>(&s)) != S_OK) {
      ok = 0;
      break;
    }
    const std::wstring tag = L"{T=" + std::to_wstring(n) + L"}";
    Bstr rd(tag.c_str()), page(L"x"), data(L"{DBFile=C:\\nowhere\\mxza.max}"), user(L""), vars;
    IDispatch* callback = nullptr;
    ok &= Reply(s, &ISession::CapabilitiesReal) == kCaps;
    ITypeInfo* info = nullptr;
    ok &= s->GetTypeInfo(0, 0, &info) == S_OK && info && info == g_type_info;
    if (info) info->Release();
    EnterCriticalSection(&g_dialog_turn);
    ok &= Reply(s, &ISession::Configure, &rd.p, &page.p) == tag + L"{Page(S1)=X}";
    LeaveCriticalSection(&g_dialog_turn);
    ok &= Reply(s, &ISession::Initialize, &data.p, &user.p, &callback) != L"<failed>";
    ok &= Has(Reply(s, &ISession::Load, &vars.p), L"{Result=Fail}");
    ok &= Has(Reply(s, &ISession::CacheStart), L"Fail");
    ok &= s->Release() == 0;
  }
  CoUninitialize();
  return ok;
}

// A thread that starts after every object of the process has gone.
DWORD WINAPI LateThread(void*) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ISession* s = nullptr;
  DWORD ok = 0;
  if (CoCreateInstance(CLSID_Session, nullptr, CLSCTX_INPROC_SERVER, IID_ISession,
                       reinterpret_cast<void**>(&s)) == S_OK) {
    ok = Reply(s, &ISession::CapabilitiesReal) == kCaps;
    s->Release();
  }
  CoUninitialize();
  return ok;
}

void OtherThreads(ISession* main_session) {
  main_session->GetTypeInfo(0, 0, &g_type_info);
  HANDLE threads[2];
  for (int i = 0; i < 2; ++i) {
    threads[i] =
        CreateThread(nullptr, 0, OtherThread, reinterpret_cast<void*>(INT_PTR{i + 1}), 0, nullptr);
  }
  const DWORD waited = WaitForMultipleObjects(2, threads, TRUE, 30000);
  Check(waited == WAIT_OBJECT_0, "the other threads end");
  for (HANDLE thread : threads) {
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    Check(code == 1, "objects on other threads");
  }
  // This thread's own object and state are untouched by theirs.
  Bstr rd(L"{M=1}"), page(L"Action");
  Check(Reply(main_session, &ISession::Configure, &rd.p, &page.p) == L"{M=1}{Page(S6)=ACTION}",
        "the first thread's object after the others ended");
  if (g_type_info) g_type_info->Release();
  g_type_info = nullptr;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  InitializeCriticalSection(&g_dialog_turn);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ISession* s = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_Session, nullptr, CLSCTX_INPROC_SERVER, IID_ISession,
                                reinterpret_cast<void**>(&s));
  Check(hr == S_OK && s, "CoCreateInstance");
  if (s) {
    IDispatch* dispatch = nullptr;
    Check(s->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)) == S_OK &&
              dispatch == static_cast<IDispatch*>(s),
          "IDispatch is the dual interface");
    if (dispatch) dispatch->Release();
    std::printf("%s\n", "VtableCalls");
    VtableCalls(s);
    std::printf("%s\n", "TypeLibrary");
    TypeLibrary(s);
    std::printf("%s\n", "DispatchRules");
    DispatchRules(s);
    std::printf("%s\n", "OtherThreads");
    OtherThreads(s);
    std::printf("%s\n", "UnloadAccounting");
    UnloadAccounting(s);  // releases s
    std::printf("%s\n", "ReleasedInsideCall");
    ReleasedInsideCall();
  }
  HANDLE late = CreateThread(nullptr, 0, LateThread, nullptr, 0, nullptr);
  DWORD code = 0;
  Check(WaitForSingleObject(late, 30000) == WAIT_OBJECT_0 && GetExitCodeThread(late, &code) &&
            code == 1,
        "an object on a thread started after the others");
  CloseHandle(late);
  CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
  if (failures == 0) {
    std::printf("PASSED %d checks\n", checks);
  } else {
    std::printf("FAILED %d of %d checks\n", failures, checks);
  }
  return failures == 0 ? 0 : 1;
}
