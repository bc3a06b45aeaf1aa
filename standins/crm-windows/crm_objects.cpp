// The automation objects of the stand-in application: the attach object
// created by ProgID, the application object and the record object. Members
// are found by name (without regard to case) and called with positional
// arguments; each call is written to the journal before it runs.
#include <windows.h>
// windows.h first
#include <oleauto.h>

#include <functional>
#include <vector>

#include "platform/failure.h"
#include "standins/crm-windows/standin_crm.h"

namespace pellory::standin {
namespace {

using Args = std::vector<Variant>;
// A member fills `result` (VT_EMPTY on entry) or throws Failure.
using Member = std::function<void(const Args& args, VARIANT* result)>;

void CheckCount(const Args& args, size_t min, size_t max) {
  if (args.size() < min || args.size() > max) {
    throw Failure(u"Wrong number of arguments or invalid property assignment", 450);
  }
}

const Variant& Required(const Args& args, size_t index) {
  if (index >= args.size() || args[index].is_missing()) {
    throw Failure(u"Argument not optional", 449);
  }
  return args[index];
}

Text FromBstr(BSTR b) {
  return b ? Text(reinterpret_cast<const char16_t*>(b), SysStringLen(b)) : Text();
}

Variant FromVariant(const VARIANT& in) {
  VARIANT v;
  VariantInit(&v);
  if (FAILED(VariantCopyInd(&v, const_cast<VARIANT*>(&in)))) throw Failure(u"Type mismatch", 13);
  Variant out;
  switch (V_VT(&v)) {
    case VT_EMPTY:
      break;
    case VT_NULL:
      out = Variant::Null();
      break;
    case VT_ERROR:
      if (V_ERROR(&v) == DISP_E_PARAMNOTFOUND)
        out = Variant::Missing();
      else
        out = Variant(static_cast<int32_t>(V_ERROR(&v)));
      break;
    case VT_BSTR:
      out = Variant(FromBstr(V_BSTR(&v)));
      break;
    case VT_BOOL:
      out = Variant(V_BOOL(&v) != VARIANT_FALSE);
      break;
    case VT_I2:
      out = Variant(static_cast<int16_t>(V_I2(&v)));
      break;
    case VT_I4:
    case VT_INT:
      out = Variant(static_cast<int32_t>(V_I4(&v)));
      break;
    case VT_UI1:
      out = Variant(static_cast<uint8_t>(V_UI1(&v)));
      break;
    case VT_R4:
      out = Variant(V_R4(&v));
      break;
    case VT_R8:
      out = Variant(V_R8(&v));
      break;
    case VT_DATE:
      out = Variant(DateTime{V_DATE(&v)});
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      out = Variant(ObjectRef(std::make_shared<Object>()));
      break;
    default: {
      // Other numbers (currency, decimal, 64-bit) as their double value.
      VARIANT d;
      VariantInit(&d);
      if (FAILED(VariantChangeType(&d, &v, 0, VT_R8))) {
        VariantClear(&v);
        throw Failure(u"Type mismatch", 13);
      }
      out = Variant(V_R8(&d));
    }
  }
  VariantClear(&v);
  return out;
}

void SetResult(VARIANT* result, const Variant& value) {
  if (!result) return;
  switch (value.kind()) {
    case Variant::Kind::kNull:
      V_VT(result) = VT_NULL;
      break;
    case Variant::Kind::kText:
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.text().data()),
                                         static_cast<UINT>(value.text().size()));
      break;
    case Variant::Kind::kBool:
      V_VT(result) = VT_BOOL;
      V_BOOL(result) = value.boolean() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Variant::Kind::kInt16:
      V_VT(result) = VT_I2;
      V_I2(result) = value.ToInt16();
      break;
    default:
      break;
  }
}

class CrmObject : public IDispatch {
 public:
  explicit CrmObject(std::string name) : name_(std::move(name)) {}
  virtual ~CrmObject() = default;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = InterlockedDecrement(&refs_);
    if (n == 0 && owned_by_refs_) delete this;
    return n;
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      if (i > 0) {
        hr = DISP_E_UNKNOWNNAME;  // no named arguments
        continue;
      }
      const Text wanted(reinterpret_cast<const char16_t*>(names[i]));
      for (size_t m = 0; m < members_.size(); ++m) {
        if (EqualsNoCase(members_[m].first, wanted)) ids[i] = static_cast<DISPID>(m + 1);
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override {
    if (id < 1 || static_cast<size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (result) VariantInit(result);
    const auto& [name, member] = members_[static_cast<size_t>(id - 1)];
    CrmState& state = State();
    Args args;
    try {
      // Arguments arrive last first.
      for (UINT i = params ? params->cArgs : 0; i > 0; --i) {
        args.push_back(FromVariant(params->rgvarg[i - 1]));
      }
    } catch (const Failure&) {
      if (arg_err) *arg_err = 0;
      return DISP_E_TYPEMISMATCH;
    }
    const std::string line = DescribeCall(name_, name, args);
    try {
      member(args, result);
      state.Note(line);
      return S_OK;
    } catch (const Failure& f) {
      state.Note(line + " failed: " + DescribeFailure(name, args, f.description()));
      if (result) VariantClear(result);
      if (excep) {
        ZeroMemory(excep, sizeof *excep);
        excep->bstrSource = SysAllocString(L"Maximizer");
        excep->bstrDescription =
            SysAllocString(reinterpret_cast<const OLECHAR*>(f.description().c_str()));
        excep->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, f.number() & 0xffff);
      }
      return DISP_E_EXCEPTION;
    }
  }

 protected:
  void Add(Text name, Member member) { members_.emplace_back(std::move(name), std::move(member)); }
  // Objects that live as long as the process are never deleted.
  void set_owned_by_refs() { owned_by_refs_ = true; }

 private:
  std::string name_;
  std::vector<std::pair<Text, Member>> members_;
  LONG refs_ = 1;
  bool owned_by_refs_ = false;
};

void SetObject(VARIANT* result, IDispatch* object) {
  if (!result) return;
  object->AddRef();
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = object;
}

class RecordObject : public CrmObject {
 public:
  RecordObject() : CrmObject("Record") {
    Add(u"SearchByClientID", [](const Args& args, VARIANT*) {
      CheckCount(args, 1, 3);
      Text id = Required(args, 0).ToText(nullptr);
      int16_t mode = args.size() > 2 && !args[2].is_missing() ? args[2].ToInt16() : 0;
      State().shown_contact = id;
      State().shown_in_new_list = mode == 2;
    });
  }
};

class ApplicationObject : public CrmObject {
 public:
  explicit ApplicationObject(IDispatch* record) : CrmObject("Application") {
    Add(u"SetVisibilityState", [](const Args& args, VARIANT*) {
      CheckCount(args, 1, 1);
      CrmState& s = State();
      s.visibility = Required(args, 0).ToText(nullptr);
      if (s.main_window) {
        ShowWindow(s.main_window, EqualsNoCase(s.visibility, u"Max") ? SW_SHOWMAXIMIZED : SW_SHOW);
      }
    });
    Add(u"getcurrentdbpath", [](const Args& args, VARIANT* result) {
      CheckCount(args, 0, 0);
      SetResult(result, Variant(State().database_path));
    });
    Add(u"CloseDatabase", [](const Args& args, VARIANT*) {
      CheckCount(args, 0, 0);
      State().database_path.clear();
      State().SetAddressBook(u"");
    });
    Add(u"OpenDatabase", [](const Args& args, VARIANT*) {
      CheckCount(args, 3, 5);
      Text path = Required(args, 2).ToText(nullptr);
      State().database_path = path;
      State().SetAddressBook(AddressBookName(path));
    });
    Add(u"GetBusyIndicator", [](const Args& args, VARIANT* result) {
      CheckCount(args, 0, 0);
      SetResult(result, State().busy);
    });
    // Not a member of the real application: lets a test make it busy.
    Add(u"SetBusyIndicator", [](const Args& args, VARIANT*) {
      CheckCount(args, 1, 1);
      const Variant& v = Required(args, 0);
      State().busy = v.is_null() ? Variant::Null() : Variant(v.ToBool());
    });
    Add(u"ActivateWindow", [](const Args& args, VARIANT*) {
      CheckCount(args, 1, 1);
      State().active_window = args[0].ToText(nullptr);
    });
    Add(u"GetCurrentRecordObject", [record](const Args& args, VARIANT* result) {
      CheckCount(args, 0, 0);
      SetObject(result, record);
    });
    Add(u"RunMacro", [](const Args& args, VARIANT*) { CheckCount(args, 1, 1); });
  }
};

RecordObject& Record() {
  static RecordObject* record = new RecordObject();
  return *record;
}

ApplicationObject& Application() {
  static ApplicationObject* app = new ApplicationObject(&Record());
  return *app;
}

class AttachObject : public CrmObject {
 public:
  AttachObject() : CrmObject("AttachToCurrentInstance") {
    set_owned_by_refs();
    Add(u"GetApplicationObject", [](const Args& args, VARIANT* result) {
      CheckCount(args, 0, 0);
      SetObject(result, &Application());
    });
  }
};

class AttachFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
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
    State().Note("create " + ToUtf8(Text(reinterpret_cast<const char16_t*>(kProgId))));
    auto* attach = new AttachObject();
    HRESULT hr = attach->QueryInterface(riid, out);
    attach->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

AttachFactory& Factory() {
  static AttachFactory factory;
  return factory;
}

std::wstring ClsidText() {
  wchar_t buf[64] = {};
  StringFromGUID2(kAttachClsid, buf, 64);
  return buf;
}

bool SetDefault(HKEY root, const std::wstring& path, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  LONG rc = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

// Writes (or removes) the class under `root`\Software\Classes.
bool WriteClassKeys(HKEY root, bool register_it) {
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring clsid_key = classes + L"CLSID\\" + ClsidText();
  const std::wstring progid_key = classes + kProgId;
  if (!register_it) {
    LONG a = RegDeleteTreeW(root, clsid_key.c_str());
    LONG b = RegDeleteTreeW(root, progid_key.c_str());
    return (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) &&
           (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
  }
  wchar_t exe[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2) return false;
  return SetDefault(root, progid_key, L"Maximizer attach object (stand-in)") &&
         SetDefault(root, progid_key + L"\\CLSID", ClsidText()) &&
         SetDefault(root, clsid_key, L"Maximizer attach object (stand-in)") &&
         SetDefault(root, clsid_key + L"\\ProgID", kProgId) &&
         SetDefault(root, clsid_key + L"\\LocalServer32", L"\"" + std::wstring(exe) + L"\"");
}

bool VisibleInClassesRoot() {
  HKEY key = nullptr;
  const std::wstring path = std::wstring(kProgId) + L"\\CLSID";
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

}  // namespace

RegisterResult RegisterServer(bool register_it) {
  if (!register_it) {
    // The machine-wide copy goes too, when there is one and we may remove it.
    WriteClassKeys(HKEY_LOCAL_MACHINE, false);
    return WriteClassKeys(HKEY_CURRENT_USER, false) ? RegisterResult::kPerUser
                                                    : RegisterResult::kFailed;
  }
  if (!WriteClassKeys(HKEY_CURRENT_USER, true)) return RegisterResult::kFailed;
  if (VisibleInClassesRoot()) return RegisterResult::kPerUser;
  // Some systems (Wine among them) do not merge the user's classes into
  // HKEY_CLASSES_ROOT: register for the machine as well.
  return WriteClassKeys(HKEY_LOCAL_MACHINE, true) && VisibleInClassesRoot()
             ? RegisterResult::kMachine
             : RegisterResult::kFailed;
}

HRESULT StartClassObject(DWORD* cookie) {
  // The objects handed out exist before the first client asks.
  Application();
  return CoRegisterClassObject(kAttachClsid, &Factory(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                               cookie);
}

void StopClassObject(DWORD cookie) {
  CoRevokeClassObject(cookie);
  CoDisconnectObject(static_cast<IDispatch*>(&Application()), 0);
  CoDisconnectObject(static_cast<IDispatch*>(&Record()), 0);
}

}  // namespace pellory::standin
