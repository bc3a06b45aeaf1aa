// Automation by ProgID against a scripting object that Wine ships, and the
// calling conventions against a hand-made IDispatch.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "platform/failure.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/win32_automation.h"

namespace pellory {
namespace {

class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};
const auto* const apartment = ::testing::AddGlobalTestEnvironment(new ComApartment);

// Runs `call` and returns the Failure it throws ("none" when it throws none).
template <typename F>
std::pair<long, std::string> FailureOf(F call) {
  try {
    call();
  } catch (const Failure& f) {
    return {f.number(), ToUtf8(f.description())};
  }
  return {0, "none"};
}

TEST(Win32AutomationTest, DrivesAScriptingDictionary) {
  Win32Automation automation;
  auto dict = automation.CreateObject(u"Scripting.Dictionary");
  ASSERT_TRUE(dict);
  const Variant a[] = {Variant(u"a"), Variant(int32_t{1})};
  const Variant b[] = {Variant(u"b"), Variant(u"two")};
  EXPECT_TRUE(dict->Invoke(u"Add", a).is_empty());
  dict->Invoke(u"add", b);  // names compare without regard to case
  EXPECT_EQ(dict->Invoke(u"Count", {}).ToInt32(), 2);
  const Variant key_b[] = {Variant(u"b")};
  EXPECT_EQ(ToUtf8(dict->Invoke(u"Item", key_b).text()), "two");
  EXPECT_TRUE(dict->Invoke(u"Exists", key_b).ToBool());
  const Variant key_z[] = {Variant(u"z")};
  EXPECT_FALSE(dict->Invoke(u"Exists", key_z).ToBool());

  // An automation object travels as an argument and comes back as one.
  auto inner = automation.CreateObject(u"Scripting.Dictionary");
  inner->Invoke(u"Add", a);
  const Variant nest[] = {Variant(u"inner"), Variant(ObjectRef(inner))};
  dict->Invoke(u"Add", nest);
  const Variant key_inner[] = {Variant(u"inner")};
  auto back = dict->Invoke(u"Item", key_inner).object_as<AutoObject>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Invoke(u"Count", {}).ToInt32(), 1);
}

TEST(Win32AutomationTest, FailuresCarryTheirNumberAndDescription) {
  Win32Automation automation;
  auto dict = automation.CreateObject(u"Scripting.Dictionary");
  EXPECT_EQ(FailureOf([&] { dict->Invoke(u"NoSuchMember", {}); }),
            std::make_pair(438L, std::string("Object doesn't support this property or method")));
  const Variant a[] = {Variant(u"a"), Variant(int32_t{1})};
  dict->Invoke(u"Add", a);
  auto duplicate = FailureOf([&] { dict->Invoke(u"Add", a); });
  EXPECT_EQ(duplicate.first, 457) << duplicate.second;
  EXPECT_FALSE(duplicate.second.empty());
  // An array result has no counterpart in the core.
  EXPECT_EQ(FailureOf([&] { dict->Invoke(u"Keys", {}); }).first, 13);

  for (const char16_t* id : {u"Pellory.NoSuchServer", u"", u"{00000000-0000-0000-0000-00000000}"}) {
    EXPECT_EQ(FailureOf([&] { automation.CreateObject(id); }),
              std::make_pair(429L, std::string("ActiveX component can't create object")))
        << ToUtf8(id);
  }
}

HRESULT STDMETHODCALLTYPE FillInLater(EXCEPINFO* e) {
  e->bstrDescription = SysAllocString(L"Filled in later");
  e->wCode = 1005;
  e->pfnDeferredFillIn = nullptr;
  return S_OK;
}

// An IDispatch with three members: Echo describes its arguments as they
// arrived, Raise fails with an exception, Deferred with one filled in late.
class Recorder : public IDispatch {
 public:
  ULONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* ids) override {
    const wchar_t* known[] = {L"Echo", L"Raise", L"Deferred", L"Busy"};
    for (DISPID i = 0; i < 4; ++i) {
      if (_wcsicmp(names[0], known[i]) == 0) {
        ids[0] = i + 1;
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT*) override {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    switch (id) {
      case 1: {
        std::wstring out;
        for (UINT i = params->cArgs; i-- > 0;) {
          const VARIANT& v = params->rgvarg[i];
          if (V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND) {
            out += L"<missing>";
          } else if (V_VT(&v) == VT_BSTR) {
            out += V_BSTR(&v);
          } else if (V_VT(&v) == VT_I4) {
            out += std::to_wstring(V_I4(&v));
          } else if (V_VT(&v) == VT_DISPATCH) {
            out += L"<object>";
          } else {
            out += L"?";
          }
          out += L";";
        }
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(out.c_str());
        return S_OK;
      }
      case 2:
        info->bstrDescription = SysAllocString(L"Contact not found");
        info->bstrSource = SysAllocString(L"Recorder");
        info->scode = MAKE_HRESULT(1, FACILITY_CONTROL, 1004);
        return DISP_E_EXCEPTION;
      case 3:
        info->pfnDeferredFillIn = FillInLater;
        return DISP_E_EXCEPTION;
      default:
        return DISP_E_BADPARAMCOUNT;
    }
  }
};

TEST(Win32AutoObjectTest, ArgumentsGoInOrderAndMissingOnesAreLeftOut) {
  Recorder recorder;
  {
    auto object = std::make_shared<Win32AutoObject>(&recorder);
    const ULONG held = recorder.refs;
    const Variant args[] = {Variant(u"first"), Variant::Missing(), Variant(int32_t{3}),
                            Variant(ObjectRef(std::static_pointer_cast<AutoObject>(object)))};
    EXPECT_EQ(ToUtf8(object->Invoke(u"echo", args).text()), "first;<missing>;3;<object>;");
    EXPECT_EQ(ToUtf8(object->Invoke(u"Echo", {}).text()), "");
    EXPECT_EQ(recorder.refs, held) << "the arguments' references are given back";

    EXPECT_EQ(FailureOf([&] { object->Invoke(u"Raise", args); }),
              std::make_pair(1004L, std::string("Contact not found")));
    EXPECT_EQ(FailureOf([&] { object->Invoke(u"Deferred", {}); }),
              std::make_pair(1005L, std::string("Filled in later")));
    EXPECT_EQ(FailureOf([&] { object->Invoke(u"Busy", {}); }),
              std::make_pair(
                  450L, std::string("Wrong number of arguments or invalid property assignment")));
    EXPECT_EQ(FailureOf([&] { object->Invoke(u"Missing", {}); }).first, 438);
    EXPECT_EQ(recorder.refs, held) << "failed calls give the references back too";
  }
  EXPECT_EQ(recorder.refs, 1u) << "the wrapper gives back what it held";
}

}  // namespace
}  // namespace pellory
