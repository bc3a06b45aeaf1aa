// pellory.idl, which the type library is compiled from, declares ISession's
// methods by hand. This file does not compile when they differ from
// plugin/session_methods.h: in vtable order, dispatch identifier, name, or
// any argument's direction, type or name. (The compiler checks the vtable
// methods of SessionObject against the header widl makes from the IDL.)
#include <string_view>

#include "com/pellory_idl_methods.h"
#include "plugin/session_methods.h"

namespace pellory::com {
namespace {

// How pellory.idl declares each kind of argument, before its name.
constexpr std::string_view IdlArgument(SessionArg kind) {
  switch (kind) {
    case SessionArg::kText:
      return "[in] BSTR ";
    case SessionArg::kTextRef:
      return "[in, out] BSTR* ";
    case SessionArg::kBoolRef:
      return "[in, out] VARIANT_BOOL* ";
    case SessionArg::kVariantRef:
      return "[in, out] VARIANT* ";
    case SessionArg::kCallbackRef:
      return "[in, out] IDispatch** ";
  }
  return "?";
}

constexpr std::string_view IdlReply(SessionReply kind) {
  switch (kind) {
    case SessionReply::kText:
      return "[out, retval] BSTR* reply";
    case SessionReply::kBool:
      return "[out, retval] VARIANT_BOOL* reply";
    case SessionReply::kVariant:
      return "[out, retval] VARIANT* reply";
  }
  return "?";
}

// Takes `part` off the front of `text`, if it is there.
constexpr bool Take(std::string_view& text, std::string_view part) {
  if (!text.starts_with(part)) return false;
  text.remove_prefix(part.size());
  return true;
}

// Whether the IDL's method at vtable `position` (from 1) is the list's.
constexpr bool SameAsList(size_t position, int id, std::string_view name,
                          std::string_view arguments) {
  if (position < 1 || position > kSessionMethodCount) return false;
  const SessionMethod& m = kSessionMethods[position - 1];
  if (m.name != name || m.slot != id) return false;
  for (size_t i = 0; i < m.arg_count; ++i) {
    if (!Take(arguments, IdlArgument(m.args[i])) || !Take(arguments, m.arg_names[i]) ||
        !Take(arguments, ", ")) {
      return false;
    }
  }
  return Take(arguments, IdlReply(m.reply)) && arguments.empty();
}

#define PELLORY_IDL_CHECK(position, id, name, arguments)    \
  static_assert(SameAsList(position, id, #name, arguments), \
                "ISession::" #name " in pellory.idl differs from plugin/session_methods.h");
PELLORY_IDL_SESSION_METHODS(PELLORY_IDL_CHECK)
#undef PELLORY_IDL_CHECK

#define PELLORY_IDL_COUNT(...) +1
static_assert(0 PELLORY_IDL_SESSION_METHODS(PELLORY_IDL_COUNT) == kSessionMethodCount,
              "pellory.idl and plugin/session_methods.h hold different numbers of methods");
#undef PELLORY_IDL_COUNT

}  // namespace
}  // namespace pellory::com
