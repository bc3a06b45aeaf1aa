// Base of every object a Variant can hold by reference: automation objects
// of the CRM application, result sets, the host's callback object.
#pragma once

#include <memory>

namespace pellory {

class Object {
 public:
  virtual ~Object() = default;
};

using ObjectRef = std::shared_ptr<Object>;

}  // namespace pellory
