#include "platform/win32/com_variant.h"

#include <limits>
#include <new>

#include "platform/failure.h"

namespace pellory {
namespace {

[[noreturn]] void TypeMismatch() { throw Failure(u"Type mismatch", 13); }

Variant WholeNumber(int64_t n) {
  if (n >= std::numeric_limits<int16_t>::min() && n <= std::numeric_limits<int16_t>::max()) {
    return Variant(static_cast<int16_t>(n));
  }
  if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max()) {
    return Variant(static_cast<int32_t>(n));
  }
  return Variant(static_cast<double>(n));
}

Variant ObjectVariant(IUnknown* unknown) {
  if (!unknown) return Variant(ObjectRef());
  return Variant(ObjectRef(std::make_shared<ComObject>(unknown)));
}

Decimal FromDecimal(const DECIMAL& d) {
  if (d.scale > 28) TypeMismatch();
  Decimal out;
  out.lo = d.Lo64;
  out.hi = d.Hi32;
  out.scale = d.scale;
  out.negative = (d.sign & DECIMAL_NEG) != 0;
  return out;
}

// `type` is the variant type without VT_BYREF; `p` points at the value.
Variant FromTyped(VARTYPE type, const void* p, int depth) {
  if (!p) TypeMismatch();
  switch (type) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_I1:
      return Variant(static_cast<int16_t>(*static_cast<const signed char*>(p)));
    case VT_UI1:
      return Variant(static_cast<uint8_t>(*static_cast<const BYTE*>(p)));
    case VT_I2:
      return Variant(static_cast<int16_t>(*static_cast<const SHORT*>(p)));
    case VT_UI2:
      return WholeNumber(*static_cast<const USHORT*>(p));
    case VT_I4:
      return Variant(static_cast<int32_t>(*static_cast<const LONG*>(p)));
    case VT_INT:
      return Variant(static_cast<int32_t>(*static_cast<const INT*>(p)));
    case VT_UI4:
      return WholeNumber(*static_cast<const ULONG*>(p));
    case VT_UINT:
      return WholeNumber(*static_cast<const UINT*>(p));
    case VT_I8:
      return WholeNumber(*static_cast<const LONGLONG*>(p));
    case VT_UI8: {
      ULONGLONG n = *static_cast<const ULONGLONG*>(p);
      if (n > static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max())) {
        return Variant(static_cast<double>(n));
      }
      return WholeNumber(static_cast<int64_t>(n));
    }
    case VT_R4:
      return Variant(*static_cast<const float*>(p));
    case VT_R8:
      return Variant(*static_cast<const double*>(p));
    case VT_CY:
      return Variant(Currency{static_cast<const CY*>(p)->int64});
    case VT_DATE:
      return Variant(DateTime{*static_cast<const DATE*>(p)});
    case VT_BOOL:
      return Variant(*static_cast<const VARIANT_BOOL*>(p) != VARIANT_FALSE);
    case VT_BSTR:
      return Variant(FromBstr(*static_cast<const BSTR*>(p)));
    case VT_DECIMAL:
      return Variant(FromDecimal(*static_cast<const DECIMAL*>(p)));
    case VT_DISPATCH:
      return ObjectVariant(*static_cast<IDispatch* const*>(p));
    case VT_UNKNOWN:
      return ObjectVariant(*static_cast<IUnknown* const*>(p));
    case VT_ERROR:
      if (*static_cast<const SCODE*>(p) == DISP_E_PARAMNOTFOUND) return Variant::Missing();
      TypeMismatch();
    case VT_VARIANT: {
      // Only reachable by reference: the caller's variable itself.
      const VARIANT& inner = *static_cast<const VARIANT*>(p);
      if (depth > 0 || V_VT(&inner) == (VT_VARIANT | VT_BYREF)) TypeMismatch();
      if (V_VT(&inner) & VT_BYREF) {
        return FromTyped(static_cast<VARTYPE>(V_VT(&inner) & ~VT_BYREF), V_BYREF(&inner),
                         depth + 1);
      }
      return FromComVariant(inner);
    }
    default:
      TypeMismatch();
  }
}

}  // namespace

ComObject::ComObject(IUnknown* unknown) : unknown_(unknown) {
  if (!unknown_) return;
  unknown_->AddRef();
  void* dispatch = nullptr;
  if (SUCCEEDED(unknown_->QueryInterface(IID_IDispatch, &dispatch))) {
    dispatch_ = static_cast<IDispatch*>(dispatch);
  }
}

ComObject::~ComObject() {
  if (dispatch_) dispatch_->Release();
  if (unknown_) unknown_->Release();
}

Text FromBstr(BSTR value) {
  if (!value) return Text();
  return Text(reinterpret_cast<const char16_t*>(value), SysStringLen(value));
}

BSTR ToBstr(TextView text) {
  if (text.size() > std::numeric_limits<UINT>::max() / 2) throw std::bad_alloc();
  BSTR out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                               static_cast<UINT>(text.size()));
  if (!out) throw std::bad_alloc();
  return out;
}

Variant FromComVariant(const VARIANT& value) {
  VARTYPE type = V_VT(&value);
  if (type & (VT_ARRAY | VT_VECTOR)) TypeMismatch();
  if (type & VT_BYREF) {
    return FromTyped(static_cast<VARTYPE>(type & ~VT_BYREF), V_BYREF(&value), 0);
  }
  if (type == VT_VARIANT) TypeMismatch();  // not a valid by-value type
  switch (type) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_DECIMAL:
      return Variant(FromDecimal(V_DECIMAL(&value)));
    default:
      // Every other by-value kind keeps its value in the union, where a
      // by-reference pointer would stand.
      return FromTyped(type, &V_UI1(&value), 0);
  }
}

void ToComVariant(const Variant& value, VARIANT* out) {
  VariantClear(out);
  switch (value.kind()) {
    case Variant::Kind::kEmpty:
      V_VT(out) = VT_EMPTY;
      return;
    case Variant::Kind::kNull:
      V_VT(out) = VT_NULL;
      return;
    case Variant::Kind::kMissing:
      V_VT(out) = VT_ERROR;
      V_ERROR(out) = DISP_E_PARAMNOTFOUND;
      return;
    case Variant::Kind::kText:
      V_BSTR(out) = ToBstr(value.text());
      V_VT(out) = VT_BSTR;
      return;
    case Variant::Kind::kBool:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = value.boolean() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case Variant::Kind::kInt16:
      V_VT(out) = VT_I2;
      V_I2(out) = static_cast<SHORT>(value.ToInt16());
      return;
    case Variant::Kind::kInt32:
      V_VT(out) = VT_I4;
      V_I4(out) = static_cast<LONG>(value.ToInt32());
      return;
    case Variant::Kind::kSingle:
      V_VT(out) = VT_R4;
      V_R4(out) = static_cast<float>(value.ToDouble());
      return;
    case Variant::Kind::kDouble:
      V_VT(out) = VT_R8;
      V_R8(out) = value.ToDouble();
      return;
    case Variant::Kind::kCurrency:
      V_VT(out) = VT_CY;
      V_CY(out).int64 = value.currency().scaled;
      return;
    case Variant::Kind::kDecimal: {
      const Decimal& d = value.decimal();
      DECIMAL& dec = V_DECIMAL(out);
      dec.scale = d.scale;
      dec.sign = d.negative ? DECIMAL_NEG : 0;
      dec.Hi32 = d.hi;
      dec.Lo64 = d.lo;
      V_VT(out) = VT_DECIMAL;  // after the fields: vt shares its bytes with wReserved
      return;
    }
    case Variant::Kind::kByte:
      V_VT(out) = VT_UI1;
      V_UI1(out) = static_cast<BYTE>(value.ToInt32());
      return;
    case Variant::Kind::kDate:
      V_VT(out) = VT_DATE;
      V_DATE(out) = value.date().days;
      return;
    case Variant::Kind::kObject: {
      const ObjectRef& object = value.object();
      if (!object) {
        V_VT(out) = VT_DISPATCH;
        V_DISPATCH(out) = nullptr;
        return;
      }
      auto com = std::dynamic_pointer_cast<ComObject>(object);
      if (!com) TypeMismatch();
      if (com->dispatch()) {
        com->dispatch()->AddRef();
        V_VT(out) = VT_DISPATCH;
        V_DISPATCH(out) = com->dispatch();
      } else {
        com->unknown()->AddRef();
        V_VT(out) = VT_UNKNOWN;
        V_UNKNOWN(out) = com->unknown();
      }
      return;
    }
  }
  TypeMismatch();
}

}  // namespace pellory
