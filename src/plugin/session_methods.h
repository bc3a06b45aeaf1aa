// The methods of a Session (ProgID Pellory.Session), listed once: the host's
// interface in slot order, with each method's reply and arguments.
//
// Made from this list: the Session class (plugin/session.h), the COM object's
// vtable methods and its IDispatch (com/session_object.*, com/dispatch.cpp)
// and the calls of `pellory host` (cli/cmd_host.cpp). The type library is
// compiled from com/pellory.idl, written by hand; building pellory.dll checks
// it against this list (com/idl_check.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "platform/variant.h"

// PELLORY_SESSION_METHODS(X) expands X(slot, Name, Reply, arguments...) once
// for each method, in slot order. The slot is the method's place in the
// vtable after IDispatch's seven methods, counted from 1; it is also its
// dispatch identifier. Each argument is (Kind, Name), named as in the type
// library.
//
//   Reply        the result             COM [out, retval]        core
//   Text         text                   BSTR*                    Text
//   Bool         Boolean                VARIANT_BOOL*            bool
//   Variant      a value of any kind    VARIANT*                 Variant
//
//   Kind         argument               COM                      core
//   Text         text by value          [in] BSTR                Text
//   TextRef      text by reference      [in, out] BSTR*          Text&
//   BoolRef      Boolean by reference   [in, out] VARIANT_BOOL*  bool&
//   VariantRef   value by reference     [in, out] VARIANT*       Variant&
//   CallbackRef  host's callback object [in, out] IDispatch**    ObjectRef&
//
// clang-format off
#define PELLORY_SESSION_METHODS(X)                                                            \
  X(1, Install, Text)                                                                         \
  X(2, Uninstall, Text)                                                                       \
  X(3, Configure, Text, (TextRef, rd), (TextRef, page))                                       \
  X(4, Initialize, Text, (TextRef, DataRd), (TextRef, UserRd), (CallbackRef, objCallback))    \
  X(5, Uninitialize, Text)                                                                    \
  X(6, Load, Text, (TextRef, Vars))                                                           \
  X(7, Unload, Text)                                                                          \
  X(8, FindContact, Text, (Text, rd))                                                         \
  X(9, FindList, Text, (Text, rd))                                                            \
  X(10, DoAction, Text, (Text, rd))                                                           \
  X(11, CacheStart, Text)                                                                     \
  X(12, CacheEnd, Text)                                                                       \
  X(13, CacheRecord, Text)                                                                    \
  X(14, Capabilities, Text)                                                                   \
  X(15, Blocked, Bool)                                                                        \
  X(16, InstallReal, Text)                                                                    \
  X(17, UninitializeReal, Text)                                                               \
  X(18, InitializeReal, Variant)                                                              \
  X(19, LoadReal, Text, (TextRef, rd))                                                        \
  X(20, UnloadReal, Text)                                                                     \
  X(21, FindReal, Text, (Text, rd))                                                           \
  X(22, CheckRunning, Bool, (BoolRef, Start))                                                 \
  X(23, DoActionReal, Text, (TextRef, rd))                                                    \
  X(24, CacheRecordReal, Text)                                                                \
  X(25, GetContact, Text, (VariantRef, res))                                                  \
  X(26, CapabilitiesReal, Text)                                                               \
  X(27, SetProperty, Text, (TextRef, Prop), (VariantRef, Value))                              \
  X(28, GetProperty, Text, (TextRef, Prop))
// clang-format on

// Tools for the users of the list, to expand the arguments of one method.
//
// PELLORY_SESSION_EACH_ARG(F, arguments...): F(Kind, Name) for each
// argument, separated by commas (nothing for none).
#define PELLORY_SESSION_EACH_ARG(F, ...) \
  PELLORY_SESSION_CAT(PELLORY_SESSION_EACH_, PELLORY_SESSION_ARG_COUNT(__VA_ARGS__))(F, __VA_ARGS__)
// The number of arguments (at most 3).
#define PELLORY_SESSION_ARG_COUNT(...) \
  PELLORY_SESSION_FOURTH(__VA_ARGS__ __VA_OPT__(, ) 3, 2, 1, 0, )
// The template arguments <SessionReply, SessionArg...> of one method.
#define PELLORY_SESSION_KINDS(reply, ...)       \
  ::pellory::SessionReply::k##reply __VA_OPT__( \
      , PELLORY_SESSION_EACH_ARG(PELLORY_SESSION_KIND, __VA_ARGS__))
// One argument as a parameter of the core's Session.
#define PELLORY_SESSION_CORE_PARAM(kind, name) \
  ::pellory::CoreArg<::pellory::SessionArg::k##kind> name
// One argument's kind, name as a string, and name as written.
#define PELLORY_SESSION_KIND(kind, name) ::pellory::SessionArg::k##kind
#define PELLORY_SESSION_ARG_NAME(kind, name) #name
#define PELLORY_SESSION_ARG(kind, name) name

#define PELLORY_SESSION_CAT(a, b) PELLORY_SESSION_CAT_I(a, b)
#define PELLORY_SESSION_CAT_I(a, b) a##b
#define PELLORY_SESSION_FOURTH(a, b, c, d, ...) d
#define PELLORY_SESSION_EACH_0(F, ...)
#define PELLORY_SESSION_EACH_1(F, a) F a
#define PELLORY_SESSION_EACH_2(F, a, b) F a, F b
#define PELLORY_SESSION_EACH_3(F, a, b, c) F a, F b, F c

namespace pellory {

enum class SessionReply : unsigned char { kText, kBool, kVariant };
enum class SessionArg : unsigned char { kText, kTextRef, kBoolRef, kVariantRef, kCallbackRef };

inline constexpr size_t kMaxSessionArgs = 3;

// One method of the list as data.
struct SessionMethod {
  std::string_view name;
  int slot;  // and dispatch identifier
  SessionReply reply;
  size_t arg_count;
  std::array<SessionArg, kMaxSessionArgs> args;
  std::array<std::string_view, kMaxSessionArgs> arg_names;  // as in the type library
};

#define PELLORY_SESSION_METHOD_ENTRY(slot, name, reply, ...)      \
  {#name,                                                         \
   slot,                                                          \
   SessionReply::k##reply,                                        \
   PELLORY_SESSION_ARG_COUNT(__VA_ARGS__),                        \
   {PELLORY_SESSION_EACH_ARG(PELLORY_SESSION_KIND, __VA_ARGS__)}, \
   {PELLORY_SESSION_EACH_ARG(PELLORY_SESSION_ARG_NAME, __VA_ARGS__)}},
inline constexpr SessionMethod kSessionMethods[] = {
    PELLORY_SESSION_METHODS(PELLORY_SESSION_METHOD_ENTRY)};
#undef PELLORY_SESSION_METHOD_ENTRY

inline constexpr size_t kSessionMethodCount = std::size(kSessionMethods);
static_assert(kSessionMethodCount == 28, "hosts know a Session by its 28 methods");

// A method's dispatch identifier is its slot number, so IDispatch finds a
// method at kSessionMethods[id - 1].
constexpr bool DispatchIdsFollowSlots() {
  for (size_t i = 0; i < kSessionMethodCount; ++i) {
    if (kSessionMethods[i].slot != static_cast<int>(i) + 1) return false;
  }
  return true;
}
static_assert(DispatchIdsFollowSlots(),
              "PELLORY_SESSION_METHODS: the slots (dispatch identifiers) must run 1, 2, 3, ... "
              "in the order of the list");

// The core's types for each kind of argument and reply.
template <SessionArg>
struct CoreArgOf;
template <>
struct CoreArgOf<SessionArg::kText> {
  using type = Text;
};
template <>
struct CoreArgOf<SessionArg::kTextRef> {
  using type = Text&;
};
template <>
struct CoreArgOf<SessionArg::kBoolRef> {
  using type = bool&;
};
template <>
struct CoreArgOf<SessionArg::kVariantRef> {
  using type = Variant&;
};
template <>
struct CoreArgOf<SessionArg::kCallbackRef> {
  using type = ObjectRef&;
};
template <SessionArg K>
using CoreArg = typename CoreArgOf<K>::type;

template <SessionReply>
struct CoreReplyOf;
template <>
struct CoreReplyOf<SessionReply::kText> {
  using type = Text;
};
template <>
struct CoreReplyOf<SessionReply::kBool> {
  using type = bool;
};
template <>
struct CoreReplyOf<SessionReply::kVariant> {
  using type = Variant;
};
template <SessionReply R>
using CoreReply = typename CoreReplyOf<R>::type;

}  // namespace pellory
