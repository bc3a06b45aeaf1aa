#include "com/session_object.h"

#include <new>

#include "assembly.h"
#include "com/module.h"
#include "platform/failure.h"
#include "platform/win32/com_variant.h"

namespace pellory::com {
namespace {

// The text behind an [in, out] BSTR* (null BSTR: empty text).
Text InText(const BSTR* p) { return FromBstr(*p); }

// Writes `after` back through an [in, out] BSTR* when the call changed it.
void OutText(BSTR* p, const Text& before, const Text& after) {
  if (after == before) return;
  BSTR fresh = ToBstr(after);
  SysFreeString(*p);
  *p = fresh;
}

}  // namespace

Win32Env& ThreadEnv() {
  thread_local std::unique_ptr<Win32Env> env;
  if (!env) {
    // Per-thread state (this platform object and the core's own) is torn
    // down when its thread ends, by code in this module; so once a thread
    // has any, the module must stay loaded for the rest of the process even
    // after COM has been told it may unload it.
    static const bool pinned = [] {
      HMODULE self = nullptr;
      return GetModuleHandleExW(
                 GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                 reinterpret_cast<LPCWSTR>(&ThisModule), &self) != 0;
    }();
    (void)pinned;
    auto made = std::make_unique<Win32Env>();
    WireWin32Adapters(*made);
    env = std::move(made);
  }
  return *env;
}

SessionObject::SessionObject() : env_(ThreadEnv()), session_(env_, FullSessionLogic()) {
  LockModule();
}

SessionObject::~SessionObject() {
  if (type_info_) type_info_->Release();
  UnlockModule();
}

HRESULT SessionObject::Create(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  SessionObject* object = nullptr;
  try {
    object = new SessionObject();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  HRESULT hr = object->QueryInterface(riid, out);
  object->Release();
  return hr;
}

HRESULT SessionObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, IID_ISession)) {
    *out = static_cast<ISession*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG SessionObject::AddRef() { return ++refs_; }

ULONG SessionObject::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

template <typename Work>
HRESULT SessionObject::Run(Work&& work) {
  AddRef();
  HRESULT hr = S_OK;
  try {
    work();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (const Failure& f) {
    hr = f.number() == 13 ? DISP_E_TYPEMISMATCH : E_FAIL;
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  Release();
  return hr;
}

template <typename Work>
HRESULT SessionObject::TextReply(BSTR* reply, Work&& work) {
  if (!reply) return E_POINTER;
  *reply = nullptr;
  return Run([&] { *reply = ToBstr(work()); });
}

HRESULT SessionObject::Install(BSTR* reply) {
  return TextReply(reply, [&] { return session_.Install(); });
}

HRESULT SessionObject::Uninstall(BSTR* reply) {
  return TextReply(reply, [&] { return session_.Uninstall(); });
}

HRESULT SessionObject::Configure(BSTR* rd, BSTR* page, BSTR* reply) {
  if (!rd || !page) return E_POINTER;
  return TextReply(reply, [&] {
    const Text rd_in = InText(rd), page_in = InText(page);
    Text r = rd_in, p = page_in;
    Text out = session_.Configure(r, p);
    OutText(rd, rd_in, r);
    OutText(page, page_in, p);
    return out;
  });
}

HRESULT SessionObject::Initialize(BSTR* data_rd, BSTR* user_rd, IDispatch** callback, BSTR* reply) {
  if (!data_rd || !user_rd || !callback) return E_POINTER;
  return TextReply(reply, [&] {
    const Text data_in = InText(data_rd), user_in = InText(user_rd);
    Text d = data_in, u = user_in;
    ObjectRef cb;
    if (*callback) cb = std::make_shared<ComObject>(*callback);
    Text out = session_.Initialize(d, u, cb);
    OutText(data_rd, data_in, d);
    OutText(user_rd, user_in, u);
    return out;
  });
}

HRESULT SessionObject::Uninitialize(BSTR* reply) {
  return TextReply(reply, [&] { return session_.Uninitialize(); });
}

HRESULT SessionObject::Load(BSTR* vars, BSTR* reply) {
  if (!vars) return E_POINTER;
  return TextReply(reply, [&] {
    const Text in = InText(vars);
    Text v = in;
    Text out = session_.Load(v);
    OutText(vars, in, v);
    return out;
  });
}

HRESULT SessionObject::Unload(BSTR* reply) {
  return TextReply(reply, [&] { return session_.Unload(); });
}

HRESULT SessionObject::FindContact(BSTR rd, BSTR* reply) {
  return TextReply(reply, [&] { return session_.FindContact(FromBstr(rd)); });
}

HRESULT SessionObject::FindList(BSTR rd, BSTR* reply) {
  return TextReply(reply, [&] { return session_.FindList(FromBstr(rd)); });
}

HRESULT SessionObject::DoAction(BSTR rd, BSTR* reply) {
  return TextReply(reply, [&] { return session_.DoAction(FromBstr(rd)); });
}

HRESULT SessionObject::CacheStart(BSTR* reply) {
  return TextReply(reply, [&] { return session_.CacheStart(); });
}

HRESULT SessionObject::CacheEnd(BSTR* reply) {
  return TextReply(reply, [&] { return session_.CacheEnd(); });
}

HRESULT SessionObject::CacheRecord(BSTR* reply) {
  return TextReply(reply, [&] { return session_.CacheRecord(); });
}

HRESULT SessionObject::Capabilities(BSTR* reply) {
  return TextReply(reply, [&] { return session_.Capabilities(); });
}

HRESULT SessionObject::Blocked(VARIANT_BOOL* reply) {
  if (!reply) return E_POINTER;
  *reply = VARIANT_FALSE;
  return Run([&] { *reply = session_.Blocked() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT SessionObject::InstallReal(BSTR* reply) {
  return TextReply(reply, [&] { return session_.InstallReal(); });
}

HRESULT SessionObject::UninitializeReal(BSTR* reply) {
  return TextReply(reply, [&] { return session_.UninitializeReal(); });
}

HRESULT SessionObject::InitializeReal(VARIANT* reply) {
  if (!reply) return E_POINTER;
  VariantInit(reply);
  return Run([&] {
    Variant value = session_.InitializeReal();
    ToComVariant(value, reply);
  });
}

HRESULT SessionObject::LoadReal(BSTR* rd, BSTR* reply) {
  if (!rd) return E_POINTER;
  return TextReply(reply, [&] {
    const Text in = InText(rd);
    Text r = in;
    Text out = session_.LoadReal(r);
    OutText(rd, in, r);
    return out;
  });
}

HRESULT SessionObject::UnloadReal(BSTR* reply) {
  return TextReply(reply, [&] { return session_.UnloadReal(); });
}

HRESULT SessionObject::FindReal(BSTR rd, BSTR* reply) {
  return TextReply(reply, [&] { return session_.FindReal(FromBstr(rd)); });
}

HRESULT SessionObject::CheckRunning(VARIANT_BOOL* start, VARIANT_BOOL* reply) {
  if (!start || !reply) return E_POINTER;
  *reply = VARIANT_FALSE;
  return Run([&] {
    bool s = *start != VARIANT_FALSE;
    const bool in = s;
    bool running = session_.CheckRunning(s);
    if (s != in) *start = s ? VARIANT_TRUE : VARIANT_FALSE;
    *reply = running ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT SessionObject::DoActionReal(BSTR* rd, BSTR* reply) {
  if (!rd) return E_POINTER;
  return TextReply(reply, [&] {
    const Text in = InText(rd);
    Text r = in;
    Text out = session_.DoActionReal(r);
    OutText(rd, in, r);
    return out;
  });
}

HRESULT SessionObject::CacheRecordReal(BSTR* reply) {
  return TextReply(reply, [&] { return session_.CacheRecordReal(); });
}

HRESULT SessionObject::GetContact(VARIANT* res, BSTR* reply) {
  if (!res) return E_POINTER;
  return TextReply(reply, [&] {
    const Variant in = FromComVariant(*res);
    Variant r = in;
    Text out = session_.GetContact(r);
    if (!(r == in)) ToComVariant(r, res);
    return out;
  });
}

HRESULT SessionObject::CapabilitiesReal(BSTR* reply) {
  return TextReply(reply, [&] { return session_.CapabilitiesReal(); });
}

HRESULT SessionObject::SetProperty(BSTR* prop, VARIANT* value, BSTR* reply) {
  if (!prop || !value) return E_POINTER;
  return TextReply(reply, [&] {
    const Text prop_in = InText(prop);
    const Variant value_in = FromComVariant(*value);
    Text p = prop_in;
    Variant v = value_in;
    Text out = session_.SetProperty(p, v);
    OutText(prop, prop_in, p);
    if (!(v == value_in)) ToComVariant(v, value);
    return out;
  });
}

HRESULT SessionObject::GetProperty(BSTR* prop, BSTR* reply) {
  if (!prop) return E_POINTER;
  return TextReply(reply, [&] {
    const Text in = InText(prop);
    Text p = in;
    Text out = session_.GetProperty(p);
    OutText(prop, in, p);
    return out;
  });
}

}  // namespace pellory::com
