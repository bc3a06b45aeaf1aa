#include "platform/win32/win32_automation.h"

#include <windows.h>

#include <vector>

#include "platform/win32/ansi_text.h"
#include "platform/win32/system_error.h"

namespace pellory {
namespace {

[[noreturn]] void CannotCreate() { throw Failure(u"ActiveX component can't create object", 429); }

// The arguments of one call, cleared whatever happens.
class ArgumentBlock {
 public:
  explicit ArgumentBlock(size_t n) : values_(n) {
    for (VARIANT& v : values_) VariantInit(&v);
  }
  ~ArgumentBlock() {
    for (VARIANT& v : values_) VariantClear(&v);
  }
  ArgumentBlock(const ArgumentBlock&) = delete;
  ArgumentBlock& operator=(const ArgumentBlock&) = delete;
  VARIANT* data() { return values_.data(); }
  VARIANT& operator[](size_t i) { return values_[i]; }

 private:
  std::vector<VARIANT> values_;
};

// The run-time error number and text that a failed call stands for.
struct ErrorText {
  HRESULT code;
  long number;
  const char16_t* description;
};

constexpr ErrorText kKnownErrors[] = {
    {DISP_E_MEMBERNOTFOUND, 438, u"Object doesn't support this property or method"},
    {DISP_E_UNKNOWNNAME, 438, u"Object doesn't support this property or method"},
    {DISP_E_BADPARAMCOUNT, 450, u"Wrong number of arguments or invalid property assignment"},
    {DISP_E_PARAMNOTOPTIONAL, 449, u"Argument not optional"},
    {DISP_E_TYPEMISMATCH, 13, u"Type mismatch"},
    {DISP_E_OVERFLOW, 6, u"Overflow"},
    {DISP_E_BADINDEX, 9, u"Subscript out of range"},
    {E_INVALIDARG, 5, u"Invalid procedure call or argument"},
    {E_OUTOFMEMORY, 7, u"Out of memory"},
};

// Run-time errors raised as HRESULTs of the control facility carry their
// number in the low word.
long ErrorNumber(HRESULT code) {
  if (HRESULT_FACILITY(code) == FACILITY_CONTROL) return HRESULT_CODE(code);
  for (const ErrorText& e : kKnownErrors) {
    if (e.code == code) return e.number;
  }
  return static_cast<long>(code);
}

[[noreturn]] void ThrowCallFailure(HRESULT code, Text description) {
  const long number = ErrorNumber(code);
  if (description.empty()) {
    for (const ErrorText& e : kKnownErrors) {
      if (e.code == code || (e.number == number && HRESULT_FACILITY(code) == FACILITY_CONTROL)) {
        description = e.description;
        break;
      }
    }
  }
  if (description.empty()) description = u"Automation error";
  throw Failure(std::move(description), number);
}

[[noreturn]] void ThrowException(HRESULT code, EXCEPINFO& info) {
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  Text description = FromBstr(info.bstrDescription);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
  HRESULT raised = info.scode != 0 ? info.scode : code;
  if (info.scode == 0 && info.wCode != 0) raised = MAKE_HRESULT(1, FACILITY_CONTROL, info.wCode);
  ThrowCallFailure(raised, std::move(description));
}

// The object as the core holds it: through its AutoObject side, the
// ComObject side being found again by a cast.
ObjectRef AsObject(std::shared_ptr<Win32AutoObject> object) {
  return std::static_pointer_cast<AutoObject>(std::move(object));
}

// The result of a call: interface pointers become automation objects.
Variant ResultValue(const VARIANT& value) {
  VARTYPE type = V_VT(&value);
  if (type == VT_DISPATCH && V_DISPATCH(&value)) {
    return Variant(AsObject(std::make_shared<Win32AutoObject>(V_DISPATCH(&value))));
  }
  if (type == VT_UNKNOWN && V_UNKNOWN(&value)) {
    IDispatch* dispatch = nullptr;
    if (SUCCEEDED(V_UNKNOWN(&value)->QueryInterface(IID_IDispatch,
                                                    reinterpret_cast<void**>(&dispatch)))) {
      auto object = std::make_shared<Win32AutoObject>(dispatch);
      dispatch->Release();
      return Variant(AsObject(std::move(object)));
    }
  }
  return FromComVariant(value);
}

}  // namespace

Variant Win32AutoObject::Invoke(TextView member, std::span<const Variant> args) {
  IDispatch* object = dispatch();
  if (!object) ThrowCallFailure(DISP_E_MEMBERNOTFOUND, Text());
  Text name(member);
  LPOLESTR names[] = {const_cast<LPOLESTR>(WidePtr(name))};
  DISPID id = 0;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) ThrowCallFailure(DISP_E_MEMBERNOTFOUND, Text());

  // IDispatch takes the arguments last first.
  ArgumentBlock block(args.size());
  for (size_t i = 0; i < args.size(); ++i) ToComVariant(args[i], &block[args.size() - 1 - i]);
  DISPPARAMS params{};
  params.rgvarg = args.empty() ? nullptr : block.data();
  params.cArgs = static_cast<UINT>(args.size());

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO info{};
  UINT bad_arg = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                      &params, &result, &info, &bad_arg);
  if (hr == DISP_E_EXCEPTION) {
    VariantClear(&result);
    ThrowException(hr, info);
  }
  if (FAILED(hr)) {
    VariantClear(&result);
    ThrowCallFailure(hr, Text());
  }
  try {
    Variant value = ResultValue(result);
    VariantClear(&result);
    return value;
  } catch (...) {
    VariantClear(&result);
    throw;
  }
}

std::shared_ptr<AutoObject> Win32Automation::CreateObject(TextView prog_id) {
  const Text id(prog_id);
  if (id.empty() || id.find(u'\0') != Text::npos) CannotCreate();
  CLSID clsid;
  // A ProgID or a class identifier in braces.
  HRESULT hr =
      id[0] == u'{' ? CLSIDFromString(WidePtr(id), &clsid) : CLSIDFromProgID(WidePtr(id), &clsid);
  if (FAILED(hr)) CannotCreate();
  IDispatch* dispatch = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(&dispatch));
  if (FAILED(hr) || !dispatch) CannotCreate();
  auto object = std::make_shared<Win32AutoObject>(dispatch);
  dispatch->Release();
  return object;
}

}  // namespace pellory
