#include "com/session_object.h"

#include <new>
#include <tuple>
#include <utility>

#include "assembly.h"
#include "com/module.h"
#include "platform/failure.h"
#include "platform/win32/com_variant.h"

namespace pellory::com {
namespace {

// One argument of a vtable method in the core's form, and what it takes to
// hand a changed by-reference value back: written back only when the call
// changed it, so that an unchanged argument keeps the caller's own value.
template <SessionArg>
class ComArgument;

template <>
class ComArgument<SessionArg::kText> {
 public:
  static bool IsNull(BSTR) { return false; }  // a null BSTR is empty text
  explicit ComArgument(BSTR p) : value_(FromBstr(p)) {}
  Text&& value() { return std::move(value_); }
  void WriteBack() {}

 private:
  Text value_;
};

template <>
class ComArgument<SessionArg::kTextRef> {
 public:
  static bool IsNull(BSTR* p) { return !p; }
  explicit ComArgument(BSTR* p) : p_(p), before_(FromBstr(*p)), value_(before_) {}
  Text& value() { return value_; }
  void WriteBack() {
    if (value_ == before_) return;
    BSTR fresh = ToBstr(value_);
    SysFreeString(*p_);
    *p_ = fresh;
  }

 private:
  BSTR* p_;
  Text before_, value_;
};

template <>
class ComArgument<SessionArg::kBoolRef> {
 public:
  static bool IsNull(VARIANT_BOOL* p) { return !p; }
  explicit ComArgument(VARIANT_BOOL* p) : p_(p), before_(*p != VARIANT_FALSE), value_(before_) {}
  bool& value() { return value_; }
  void WriteBack() {
    if (value_ != before_) *p_ = value_ ? VARIANT_TRUE : VARIANT_FALSE;
  }

 private:
  VARIANT_BOOL* p_;
  bool before_, value_;
};

template <>
class ComArgument<SessionArg::kVariantRef> {
 public:
  static bool IsNull(VARIANT* p) { return !p; }
  explicit ComArgument(VARIANT* p) : p_(p), before_(FromComVariant(*p)), value_(before_) {}
  Variant& value() { return value_; }
  void WriteBack() {
    if (!(value_ == before_)) ToComVariant(value_, p_);
  }

 private:
  VARIANT* p_;
  Variant before_, value_;
};

// The host's callback object: the Session keeps it and never replaces it.
template <>
class ComArgument<SessionArg::kCallbackRef> {
 public:
  static bool IsNull(IDispatch** p) { return !p; }
  explicit ComArgument(IDispatch** p) {
    if (*p) value_ = std::make_shared<ComObject>(*p);
  }
  ObjectRef& value() { return value_; }
  void WriteBack() {}

 private:
  ObjectRef value_;
};

// A reply as it stands before the call, and after it.
void ClearReply(BSTR* reply) { *reply = nullptr; }
void ClearReply(VARIANT_BOOL* reply) { *reply = VARIANT_FALSE; }
void ClearReply(VARIANT* reply) { VariantInit(reply); }
void SetReply(BSTR* reply, const Text& text) { *reply = ToBstr(text); }
void SetReply(VARIANT_BOOL* reply, bool value) { *reply = value ? VARIANT_TRUE : VARIANT_FALSE; }
void SetReply(VARIANT* reply, const Variant& value) { ToComVariant(value, reply); }

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

SessionObject::SessionObject() : env_(ThreadEnv()), session_(env_, WireSubsystems) { LockModule(); }

SessionObject::~SessionObject() { UnlockModule(); }

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

template <auto Method, SessionReply R, SessionArg... K>
HRESULT SessionObject::Forward(ComReply<R> reply, ComArg<K>... args) {
  if ((ComArgument<K>::IsNull(args) || ...) || !reply) return E_POINTER;
  ClearReply(reply);
  return Run([&] {
    // A braced list converts the arguments from left to right.
    std::tuple<ComArgument<K>...> in{ComArgument<K>(args)...};
    const CoreReply<R> out =
        std::apply([&](auto&... a) { return (session_.*Method)(a.value()...); }, in);
    std::apply([](auto&... a) { (a.WriteBack(), ...); }, in);
    SetReply(reply, out);
  });
}

// The vtable methods, one for each entry of PELLORY_SESSION_METHODS.
#define PELLORY_COM_DEFINE(slot, name, reply_kind, ...)                                  \
  HRESULT SessionObject::PELLORY_COM_SIGNATURE(name, reply_kind, __VA_ARGS__) {          \
    return Forward<&Session::name, PELLORY_SESSION_KINDS(reply_kind, __VA_ARGS__)>(      \
        reply __VA_OPT__(, PELLORY_SESSION_EACH_ARG(PELLORY_SESSION_ARG, __VA_ARGS__))); \
  }
PELLORY_SESSION_METHODS(PELLORY_COM_DEFINE)
#undef PELLORY_COM_DEFINE

}  // namespace pellory::com
