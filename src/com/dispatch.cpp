// ISession's IDispatch: names looked up without regard to case, and
// arguments converted from whatever a late-bound caller passes to the types
// of the vtable method, which then does the work. The methods, their
// arguments and their names are those of plugin/session_methods.h.

#include <atomic>
#include <cstddef>
#include <new>
#include <string_view>
#include <utility>

#include "com/module.h"
#include "com/session_object.h"
#include "platform/failure.h"
#include "platform/win32/com_variant.h"

namespace pellory::com {
namespace {

// Names are plain ASCII: compare them letter by letter, folding case.
bool SameName(std::string_view ours, const wchar_t* theirs) {
  const auto fold = [](wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
  };
  for (char c : ours) {
    const wchar_t t = *theirs++;
    if (t == 0 || fold(t) != fold(static_cast<wchar_t>(c))) return false;
  }
  return *theirs == 0;
}

// Dispatch identifiers are the slot numbers, as in the type library.
const SessionMethod* FindMember(DISPID id) {
  if (id < 1 || id > static_cast<DISPID>(kSessionMethodCount)) return nullptr;
  return &kSessionMethods[id - 1];
}

const VARIANT* Deref(const VARIANT* v) {
  return V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v) ? V_VARIANTREF(v) : v;
}

bool IsMissing(const VARIANT* v) {
  v = Deref(v);
  return V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND;
}

// One argument in the form of the vtable parameter, with what it takes to
// hand a by-reference result back to the caller's variant.
class Arg {
 public:
  Arg() { VariantInit(&variant_); }
  ~Arg() {
    SysFreeString(bstr_);
    VariantClear(&variant_);
    if (dispatch_) dispatch_->Release();
  }
  Arg(const Arg&) = delete;
  Arg& operator=(const Arg&) = delete;

  // Throws Failure "Type mismatch" when `source` does not convert.
  void Take(SessionArg kind, VARIANT* source, const Regional& regional) {
    kind_ = kind;
    const VARTYPE vt = V_VT(source);
    switch (kind) {
      case SessionArg::kTextRef:
        if (vt == (VT_BSTR | VT_BYREF)) {
          if (!V_BSTRREF(source)) Mismatch();
          bstr_ref_ = V_BSTRREF(source);
          return;
        }
        if (vt == (VT_VARIANT | VT_BYREF)) write_back_ = V_VARIANTREF(source);
        [[fallthrough]];
      case SessionArg::kText:
        text_in_ = FromComVariant(*source).ToText(&regional);
        bstr_ = ToBstr(text_in_);
        bstr_ref_ = &bstr_;
        return;
      case SessionArg::kCallbackRef: {
        if (vt == (VT_DISPATCH | VT_BYREF)) {
          if (!V_DISPATCHREF(source)) Mismatch();
          dispatch_ref_ = V_DISPATCHREF(source);
          return;
        }
        Variant value = FromComVariant(*source);
        if (value.is_object()) {
          auto com = std::dynamic_pointer_cast<ComObject>(value.object());
          if (com && !com->dispatch()) Mismatch();
          if (com) {
            dispatch_ = com->dispatch();
            dispatch_->AddRef();
          }
        } else if (!value.is_empty() && !value.is_null()) {
          Mismatch();
        }
        dispatch_ref_ = &dispatch_;
        return;
      }
      case SessionArg::kBoolRef:
        if (vt == (VT_BOOL | VT_BYREF)) {
          if (!V_BOOLREF(source)) Mismatch();
          bool_ref_ = V_BOOLREF(source);
          return;
        }
        if (vt == (VT_VARIANT | VT_BYREF)) write_back_ = V_VARIANTREF(source);
        bool_in_ = FromComVariant(*source).ToBool();
        boolean_ = bool_in_ ? VARIANT_TRUE : VARIANT_FALSE;
        bool_ref_ = &boolean_;
        return;
      case SessionArg::kVariantRef:
        if (vt == (VT_VARIANT | VT_BYREF)) {
          if (!V_VARIANTREF(source)) Mismatch();
          variant_ref_ = V_VARIANTREF(source);
          return;
        }
        FromComVariant(*source);  // refuses what the core cannot hold
        if (FAILED(VariantCopyInd(&variant_, source))) Mismatch();
        variant_ref_ = &variant_;
        return;
    }
  }

  // The argument as the vtable method takes it.
  template <SessionArg K>
  ComArg<K> As() {
    if constexpr (K == SessionArg::kText) {
      return *bstr_ref_;
    } else if constexpr (K == SessionArg::kTextRef) {
      return bstr_ref_;
    } else if constexpr (K == SessionArg::kBoolRef) {
      return bool_ref_;
    } else if constexpr (K == SessionArg::kVariantRef) {
      return variant_ref_;
    } else {
      return dispatch_ref_;
    }
  }

  // Puts a changed by-reference text or Boolean into the caller's variant.
  void WriteBack() {
    if (!write_back_) return;
    if (kind_ == SessionArg::kTextRef && FromBstr(bstr_) != text_in_) {
      if (V_VT(write_back_) == (VT_BSTR | VT_BYREF) && V_BSTRREF(write_back_)) {
        SysFreeString(*V_BSTRREF(write_back_));
        *V_BSTRREF(write_back_) = bstr_;
      } else if (V_VT(write_back_) & VT_BYREF) {
        return;  // a reference to something that cannot hold text
      } else {
        VariantClear(write_back_);
        V_VT(write_back_) = VT_BSTR;
        V_BSTR(write_back_) = bstr_;
      }
      bstr_ = nullptr;
    } else if (kind_ == SessionArg::kBoolRef && (boolean_ != VARIANT_FALSE) != bool_in_) {
      if (V_VT(write_back_) & VT_BYREF) return;
      VariantClear(write_back_);
      V_VT(write_back_) = VT_BOOL;
      V_BOOL(write_back_) = boolean_;
    }
  }

 private:
  [[noreturn]] static void Mismatch() { throw Failure(u"Type mismatch", 13); }

  SessionArg kind_ = SessionArg::kText;
  Text text_in_;
  BSTR bstr_ = nullptr;
  BSTR* bstr_ref_ = nullptr;
  IDispatch* dispatch_ = nullptr;
  IDispatch** dispatch_ref_ = nullptr;
  bool bool_in_ = false;
  VARIANT_BOOL boolean_ = VARIANT_FALSE;
  VARIANT_BOOL* bool_ref_ = nullptr;
  VARIANT variant_;
  VARIANT* variant_ref_ = nullptr;
  VARIANT* write_back_ = nullptr;  // the caller's variable passed as VT_VARIANT|VT_BYREF
};

// Converts the arguments of `method` from `params` into `args`. On a failure
// says which one in `arg_error` (its place in rgvarg, which holds the
// arguments last first).
HRESULT TakeArgs(const SessionMethod& method, const DISPPARAMS& params, Arg* args,
                 const Regional& regional, UINT* arg_error) {
  for (unsigned i = 0; i < method.arg_count; ++i) {
    const UINT position = params.cArgs - 1 - i;
    VARIANT* source = &params.rgvarg[position];
    HRESULT hr = S_OK;
    if (IsMissing(source)) {
      hr = DISP_E_PARAMNOTOPTIONAL;
    } else {
      try {
        args[i].Take(method.args[i], source, regional);
      } catch (const Failure&) {
        hr = DISP_E_TYPEMISMATCH;
      }
    }
    if (FAILED(hr)) {
      if (arg_error) *arg_error = position;
      return hr;
    }
  }
  return S_OK;
}

// The reply of a vtable method, whatever its kind, until it goes to the
// caller's result variant.
class Reply {
 public:
  Reply() { VariantInit(&variant_); }
  ~Reply() {
    SysFreeString(text_);
    VariantClear(&variant_);
  }
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;

  // Where the vtable method leaves a reply of kind R.
  template <SessionReply R>
  ComReply<R> place() {
    if constexpr (R == SessionReply::kText) {
      return &text_;
    } else if constexpr (R == SessionReply::kBool) {
      return &boolean_;
    } else {
      return &variant_;
    }
  }

  void MoveTo(SessionReply kind, VARIANT* result) {
    switch (kind) {
      case SessionReply::kText:
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = text_;
        text_ = nullptr;
        break;
      case SessionReply::kBool:
        V_VT(result) = VT_BOOL;
        V_BOOL(result) = boolean_;
        break;
      case SessionReply::kVariant:
        *result = variant_;
        VariantInit(&variant_);
        break;
    }
  }

 private:
  BSTR text_ = nullptr;
  VARIANT_BOOL boolean_ = VARIANT_FALSE;
  VARIANT variant_;
};

// Calls the vtable method `Method` with converted arguments.
template <auto Method, SessionReply R, SessionArg... K, size_t... I>
HRESULT CallWith(ISession* s, Arg* args, Reply& reply, std::index_sequence<I...>) {
  return (s->*Method)(args[I].As<K>()..., reply.place<R>());
}
template <auto Method, SessionReply R, SessionArg... K>
HRESULT CallVtable(ISession* s, Arg* args, Reply& reply) {
  return CallWith<Method, R, K...>(s, args, reply, std::make_index_sequence<sizeof...(K)>{});
}

// The caller of each vtable method, in slot order.
using VtableCall = HRESULT (*)(ISession*, Arg*, Reply&);
#define PELLORY_DISPATCH_CALL(slot, name, reply, ...) \
  &CallVtable<&ISession::name, PELLORY_SESSION_KINDS(reply, __VA_ARGS__)>,
constexpr VtableCall kVtableCalls[] = {PELLORY_SESSION_METHODS(PELLORY_DISPATCH_CALL)};
#undef PELLORY_DISPATCH_CALL

// ISession's type information, loaded from the type library embedded in
// this DLL (its first TYPELIB resource) the first time any object is asked
// for it, and kept from then on: the module stays loaded once it has made
// an object (see ThreadEnv). The type library's objects serve every
// apartment. Objects on several threads may ask at once: the first to have
// loaded it publishes its copy, the others drop theirs; a failed load is
// tried again at the next request.
HRESULT SessionTypeInfo(ITypeInfo** out) {
  static std::atomic<ITypeInfo*> cached{nullptr};
  ITypeInfo* info = cached.load(std::memory_order_acquire);
  if (!info) {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(IID_ISession, &info);
    library->Release();
    if (FAILED(hr)) return hr;
    ITypeInfo* first = nullptr;
    if (!cached.compare_exchange_strong(first, info, std::memory_order_acq_rel)) {
      info->Release();
      info = first;
    }
  }
  info->AddRef();
  *out = info;
  return S_OK;
}

}  // namespace

HRESULT SessionObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT SessionObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return SessionTypeInfo(info);
}

HRESULT SessionObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const SessionMethod* member = nullptr;
  if (names[0]) {
    for (const SessionMethod& m : kSessionMethods) {
      if (SameName(m.name, names[0])) member = &m;
    }
  }
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->slot;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (size_t p = 0; p < member->arg_count; ++p) {
      if (names[i] && SameName(member->arg_names[p], names[i])) ids[i] = static_cast<DISPID>(p);
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT SessionObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO*, UINT* arg_error) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const SessionMethod* member = FindMember(id);
  if (!member) return DISP_E_MEMBERNOTFOUND;
  // Every member is a method; a property get with its arguments is the same
  // call (VBScript's "x = s.Capabilities"). Nothing can be assigned.
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;
  if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
  if (params->cArgs != member->arg_count) return DISP_E_BADPARAMCOUNT;
  if (params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
  if (result) VariantInit(result);

  AddRef();  // the caller may release us from inside the call
  HRESULT hr = S_OK;
  try {
    Arg args[kMaxSessionArgs];
    hr = TakeArgs(*member, *params, args, env_.regional(), arg_error);
    if (SUCCEEDED(hr)) {
      Reply reply;
      hr = kVtableCalls[id - 1](this, args, reply);
      if (SUCCEEDED(hr)) {
        for (unsigned i = 0; i < member->arg_count; ++i) args[i].WriteBack();
        if (result) reply.MoveTo(member->reply, result);
      }
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  Release();
  return hr;
}

}  // namespace pellory::com
