// Automation on systems without a system-wide object broker: classes that
// live in the same process register a factory under their programmatic
// identifier, and objects expose their members by name.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/automation.h"

namespace pellory {

class ObjectRegistry : public Automation {
 public:
  using Factory = std::function<std::shared_ptr<AutoObject>()>;

  // Identifiers are matched without regard to case; a later registration
  // under the same identifier replaces the earlier one.
  void Register(TextView prog_id, Factory factory);
  void Unregister(TextView prog_id);
  bool IsRegistered(TextView prog_id) const;

  // Throws Failure ("ActiveX component can't create object", 429) for an
  // identifier nobody registered, or one whose factory gives no object.
  std::shared_ptr<AutoObject> CreateObject(TextView prog_id) override;

 private:
  std::map<Text, Factory> classes_;  // by upper-cased identifier
};

// An object whose members are registered by name. Calls find the member
// without regard to case; an unknown member fails with "Object doesn't
// support this property or method" (438).
class DispatchObject : public AutoObject {
 public:
  using Args = std::span<const Variant>;
  using Member = std::function<Variant(Args)>;

  Variant Invoke(TextView member, Args args) override;

  // Argument checks for members: a count outside [min, max] fails with
  // "Wrong number of arguments or invalid property assignment" (450); a
  // required argument left out fails with "Argument not optional" (449).
  static void CheckCount(Args args, size_t min, size_t max);
  static const Variant& Required(Args args, size_t index);

 protected:
  void AddMember(TextView name, Member member);

 private:
  std::map<Text, Member> members_;  // by upper-cased name
};

}  // namespace pellory
