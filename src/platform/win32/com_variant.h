// Conversion between the core's Variant and the automation VARIANT, and the
// Object that carries a COM interface pointer through the core.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include "platform/variant.h"

namespace pellory {

// A COM object held by the core (the host's callback object, an automation
// server's object). Holds one reference for its lifetime. Adapters whose
// objects wrap a COM interface derive from it so that their objects convert
// back to VARIANT.
class ComObject : public Object {
 public:
  // Takes a reference of its own to `unknown` (which may be null).
  explicit ComObject(IUnknown* unknown);
  ~ComObject() override;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  IUnknown* unknown() const { return unknown_; }
  // The object's IDispatch, or null when it has none.
  IDispatch* dispatch() const { return dispatch_; }

 private:
  IUnknown* unknown_ = nullptr;
  IDispatch* dispatch_ = nullptr;
};

// Reads a VARIANT, following VT_BYREF (and a variant inside a by-reference
// variant). An error variant carrying DISP_E_PARAMNOTFOUND reads as a missing
// argument; an interface pointer reads as a ComObject (a null one as an
// empty object reference). Arrays, records and other kinds without a
// counterpart throw Failure "Type mismatch" (13).
Variant FromComVariant(const VARIANT& value);

// Clears *out and writes `value` into it. Objects convert only when they
// are ComObjects (or null); anything else throws Failure "Type mismatch".
// Throws std::bad_alloc when a string cannot be allocated.
void ToComVariant(const Variant& value, VARIANT* out);

// BSTR <-> text. A null BSTR is the empty text. ToBstr throws std::bad_alloc
// when the string cannot be allocated; the caller owns the result.
Text FromBstr(BSTR value);
BSTR ToBstr(TextView text);

}  // namespace pellory
