// Late-bound automation over COM: objects created by ProgID, members called
// through IDispatch by name.
#pragma once

#include <oaidl.h>

#include "platform/automation.h"
#include "platform/win32/com_variant.h"

namespace pellory {

// An automation object: its IDispatch, called by member name. Also a
// ComObject, so it goes back to COM as itself when passed as an argument.
class Win32AutoObject : public AutoObject, public ComObject {
 public:
  // Takes a reference of its own to `dispatch`.
  explicit Win32AutoObject(IDispatch* dispatch) : ComObject(dispatch) {}

  // A method call or property get with the arguments in order; Missing()
  // leaves one out. Objects in the result come back as Win32AutoObjects.
  // A failure throws Failure with the server's own description when it
  // gives one, else the description the error number stands for
  // (438 "Object doesn't support this property or method" for an unknown
  // name).
  Variant Invoke(TextView member, std::span<const Variant> args) override;
};

// The calling thread must have entered a COM apartment.
class Win32Automation : public Automation {
 public:
  // A new object of the class registered under `prog_id` (in-process or
  // local server); Failure ("ActiveX component can't create object", 429)
  // when there is no such class or it cannot be created.
  std::shared_ptr<AutoObject> CreateObject(TextView prog_id) override;
};

}  // namespace pellory
