// ISession's IDispatch: names looked up without regard to case, and
// arguments converted from whatever a late-bound caller passes to the types
// of the vtable method, which then does the work.

#include <iterator>
#include <new>

#include "com/module.h"
#include "com/session_object.h"
#include "platform/failure.h"
#include "platform/win32/com_variant.h"

namespace pellory::com {
namespace {

enum class Param : unsigned char { kTextRef, kText, kObjectRef, kBoolRef, kVariantRef };
enum class Reply : unsigned char { kText, kBool, kVariant };

struct Member {
  const wchar_t* name;
  DISPID id;
  Reply reply;
  unsigned count;
  Param params[3];
  const wchar_t* param_names[3];
};

using P = Param;
// Dispatch identifiers are the vtable slot numbers, as in the type library.
constexpr Member kMembers[] = {
    {L"Install", 1, Reply::kText, 0, {}, {}},
    {L"Uninstall", 2, Reply::kText, 0, {}, {}},
    {L"Configure", 3, Reply::kText, 2, {P::kTextRef, P::kTextRef}, {L"rd", L"page"}},
    {L"Initialize",
     4,
     Reply::kText,
     3,
     {P::kTextRef, P::kTextRef, P::kObjectRef},
     {L"DataRd", L"UserRd", L"objCallback"}},
    {L"Uninitialize", 5, Reply::kText, 0, {}, {}},
    {L"Load", 6, Reply::kText, 1, {P::kTextRef}, {L"Vars"}},
    {L"Unload", 7, Reply::kText, 0, {}, {}},
    {L"FindContact", 8, Reply::kText, 1, {P::kText}, {L"rd"}},
    {L"FindList", 9, Reply::kText, 1, {P::kText}, {L"rd"}},
    {L"DoAction", 10, Reply::kText, 1, {P::kText}, {L"rd"}},
    {L"CacheStart", 11, Reply::kText, 0, {}, {}},
    {L"CacheEnd", 12, Reply::kText, 0, {}, {}},
    {L"CacheRecord", 13, Reply::kText, 0, {}, {}},
    {L"Capabilities", 14, Reply::kText, 0, {}, {}},
    {L"Blocked", 15, Reply::kBool, 0, {}, {}},
    {L"InstallReal", 16, Reply::kText, 0, {}, {}},
    {L"UninitializeReal", 17, Reply::kText, 0, {}, {}},
    {L"InitializeReal", 18, Reply::kVariant, 0, {}, {}},
    {L"LoadReal", 19, Reply::kText, 1, {P::kTextRef}, {L"rd"}},
    {L"UnloadReal", 20, Reply::kText, 0, {}, {}},
    {L"FindReal", 21, Reply::kText, 1, {P::kText}, {L"rd"}},
    {L"CheckRunning", 22, Reply::kBool, 1, {P::kBoolRef}, {L"Start"}},
    {L"DoActionReal", 23, Reply::kText, 1, {P::kTextRef}, {L"rd"}},
    {L"CacheRecordReal", 24, Reply::kText, 0, {}, {}},
    {L"GetContact", 25, Reply::kText, 1, {P::kVariantRef}, {L"res"}},
    {L"CapabilitiesReal", 26, Reply::kText, 0, {}, {}},
    {L"SetProperty", 27, Reply::kText, 2, {P::kTextRef, P::kVariantRef}, {L"Prop", L"Value"}},
    {L"GetProperty", 28, Reply::kText, 1, {P::kTextRef}, {L"Prop"}},
};

// Names are plain ASCII: compare them letter by letter, folding case.
bool SameName(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    wchar_t x = *a, y = *b;
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
    if (x == 0) return true;
  }
}

const Member* FindMember(DISPID id) {
  if (id < 1 || id > static_cast<DISPID>(std::size(kMembers))) return nullptr;
  return &kMembers[id - 1];
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
  void Take(Param kind, VARIANT* source, const Regional& regional) {
    kind_ = kind;
    const VARTYPE vt = V_VT(source);
    switch (kind) {
      case Param::kTextRef:
        if (vt == (VT_BSTR | VT_BYREF)) {
          if (!V_BSTRREF(source)) Mismatch();
          bstr_ref_ = V_BSTRREF(source);
          return;
        }
        if (vt == (VT_VARIANT | VT_BYREF)) write_back_ = V_VARIANTREF(source);
        [[fallthrough]];
      case Param::kText:
        text_in_ = FromComVariant(*source).ToText(&regional);
        bstr_ = ToBstr(text_in_);
        bstr_ref_ = &bstr_;
        return;
      case Param::kObjectRef: {
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
      case Param::kBoolRef:
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
      case Param::kVariantRef:
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

  BSTR text() const { return *bstr_ref_; }
  BSTR* text_ref() { return bstr_ref_; }
  IDispatch** object_ref() { return dispatch_ref_; }
  VARIANT_BOOL* bool_ref() { return bool_ref_; }
  VARIANT* variant_ref() { return variant_ref_; }

  // Puts a changed by-reference text or Boolean into the caller's variant.
  void WriteBack() {
    if (!write_back_) return;
    if (kind_ == Param::kTextRef && FromBstr(bstr_) != text_in_) {
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
    } else if (kind_ == Param::kBoolRef && (boolean_ != VARIANT_FALSE) != bool_in_) {
      if (V_VT(write_back_) & VT_BYREF) return;
      VariantClear(write_back_);
      V_VT(write_back_) = VT_BOOL;
      V_BOOL(write_back_) = boolean_;
    }
  }

 private:
  [[noreturn]] static void Mismatch() { throw Failure(u"Type mismatch", 13); }

  Param kind_ = Param::kText;
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

// Calls the vtable method of `id` with converted arguments.
HRESULT CallMember(ISession* s, DISPID id, Arg* a, BSTR* text, VARIANT_BOOL* boolean,
                   VARIANT* variant) {
  switch (id) {
    case 1:
      return s->Install(text);
    case 2:
      return s->Uninstall(text);
    case 3:
      return s->Configure(a[0].text_ref(), a[1].text_ref(), text);
    case 4:
      return s->Initialize(a[0].text_ref(), a[1].text_ref(), a[2].object_ref(), text);
    case 5:
      return s->Uninitialize(text);
    case 6:
      return s->Load(a[0].text_ref(), text);
    case 7:
      return s->Unload(text);
    case 8:
      return s->FindContact(a[0].text(), text);
    case 9:
      return s->FindList(a[0].text(), text);
    case 10:
      return s->DoAction(a[0].text(), text);
    case 11:
      return s->CacheStart(text);
    case 12:
      return s->CacheEnd(text);
    case 13:
      return s->CacheRecord(text);
    case 14:
      return s->Capabilities(text);
    case 15:
      return s->Blocked(boolean);
    case 16:
      return s->InstallReal(text);
    case 17:
      return s->UninitializeReal(text);
    case 18:
      return s->InitializeReal(variant);
    case 19:
      return s->LoadReal(a[0].text_ref(), text);
    case 20:
      return s->UnloadReal(text);
    case 21:
      return s->FindReal(a[0].text(), text);
    case 22:
      return s->CheckRunning(a[0].bool_ref(), boolean);
    case 23:
      return s->DoActionReal(a[0].text_ref(), text);
    case 24:
      return s->CacheRecordReal(text);
    case 25:
      return s->GetContact(a[0].variant_ref(), text);
    case 26:
      return s->CapabilitiesReal(text);
    case 27:
      return s->SetProperty(a[0].text_ref(), a[1].variant_ref(), text);
    case 28:
      return s->GetProperty(a[0].text_ref(), text);
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
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
  if (!type_info_) {
    // The type library is embedded in this DLL as its first TYPELIB resource.
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(IID_ISession, &type_info_);
    library->Release();
    if (FAILED(hr)) return hr;
  }
  type_info_->AddRef();
  *info = type_info_;
  return S_OK;
}

HRESULT SessionObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const Member* member = nullptr;
  if (names[0]) {
    for (const Member& m : kMembers) {
      if (SameName(m.name, names[0])) member = &m;
    }
  }
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (unsigned p = 0; p < member->count; ++p) {
      if (names[i] && SameName(member->param_names[p], names[i])) ids[i] = static_cast<DISPID>(p);
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT SessionObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO*, UINT* arg_error) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const Member* member = FindMember(id);
  if (!member) return DISP_E_MEMBERNOTFOUND;
  // Every member is a method; a property get with its arguments is the same
  // call (VBScript's "x = s.Capabilities"). Nothing can be assigned.
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;
  if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
  if (params->cArgs != member->count) return DISP_E_BADPARAMCOUNT;
  if (params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
  if (result) VariantInit(result);

  AddRef();  // the caller may release us from inside the call
  HRESULT hr = S_OK;
  try {
    Arg args[3];
    for (unsigned i = 0; i < member->count && SUCCEEDED(hr); ++i) {
      // rgvarg holds the arguments last first.
      const UINT position = params->cArgs - 1 - i;
      VARIANT* source = &params->rgvarg[position];
      if (IsMissing(source)) {
        hr = DISP_E_PARAMNOTOPTIONAL;
      } else {
        try {
          args[i].Take(member->params[i], source, env_.regional());
        } catch (const Failure&) {
          hr = DISP_E_TYPEMISMATCH;
        }
      }
      if (FAILED(hr) && arg_error) *arg_error = position;
    }
    if (SUCCEEDED(hr)) {
      BSTR text = nullptr;
      VARIANT_BOOL boolean = VARIANT_FALSE;
      VARIANT variant;
      VariantInit(&variant);
      hr = CallMember(this, id, args, &text, &boolean, &variant);
      if (SUCCEEDED(hr)) {
        for (unsigned i = 0; i < member->count; ++i) args[i].WriteBack();
      }
      if (SUCCEEDED(hr) && result) {
        switch (member->reply) {
          case Reply::kText:
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = text;
            text = nullptr;
            break;
          case Reply::kBool:
            V_VT(result) = VT_BOOL;
            V_BOOL(result) = boolean;
            break;
          case Reply::kVariant:
            *result = variant;
            VariantInit(&variant);
            break;
        }
      }
      SysFreeString(text);
      VariantClear(&variant);
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
