// Late-bound automation: objects created by programmatic identifier whose
// members are called by name.
#pragma once

#include <memory>
#include <span>

#include "platform/object.h"
#include "platform/variant.h"

namespace pellory {

class AutoObject : public Object {
 public:
  // Calls `member` (a method or a property get) with positional arguments;
  // Variant::Missing() leaves an optional argument out. Failures throw
  // Failure carrying the server's description.
  virtual Variant Invoke(TextView member, std::span<const Variant> args) = 0;
};

class Automation {
 public:
  virtual ~Automation() = default;
  // Throws Failure ("ActiveX component can't create object", 429) when no
  // server offers the identifier.
  virtual std::shared_ptr<AutoObject> CreateObject(TextView prog_id) = 0;
};

}  // namespace pellory
