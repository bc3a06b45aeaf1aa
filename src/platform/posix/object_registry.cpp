#include "platform/posix/object_registry.h"

#include "platform/failure.h"

namespace pellory {

void ObjectRegistry::Register(TextView prog_id, Factory factory) {
  classes_[UpperCase(prog_id)] = std::move(factory);
}

void ObjectRegistry::Unregister(TextView prog_id) { classes_.erase(UpperCase(prog_id)); }

bool ObjectRegistry::IsRegistered(TextView prog_id) const {
  return classes_.count(UpperCase(prog_id)) != 0;
}

std::shared_ptr<AutoObject> ObjectRegistry::CreateObject(TextView prog_id) {
  auto it = classes_.find(UpperCase(prog_id));
  std::shared_ptr<AutoObject> object;
  if (it != classes_.end() && it->second) {
    Factory factory = it->second;  // the factory may register or unregister classes
    object = factory();
  }
  if (!object) throw Failure(u"ActiveX component can't create object", 429);
  return object;
}

Variant DispatchObject::Invoke(TextView member, Args args) {
  auto it = members_.find(UpperCase(member));
  if (it == members_.end()) throw Failure(u"Object doesn't support this property or method", 438);
  Member call = it->second;
  return call(args);
}

void DispatchObject::CheckCount(Args args, size_t min, size_t max) {
  if (args.size() < min || args.size() > max) {
    throw Failure(u"Wrong number of arguments or invalid property assignment", 450);
  }
}

const Variant& DispatchObject::Required(Args args, size_t index) {
  if (index >= args.size() || args[index].is_missing()) {
    throw Failure(u"Argument not optional", 449);
  }
  return args[index];
}

void DispatchObject::AddMember(TextView name, Member member) {
  members_[UpperCase(name)] = std::move(member);
}

}  // namespace pellory
