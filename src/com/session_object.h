// The COM object "Pellory.Session": one core Session behind the dual
// interface ISession, with an IDispatch of its own for late-bound hosts.
#pragma once

#include <atomic>
#include <memory>

#include "platform/win32/win32_env.h"
#include "plugin/session.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "com/pellory.h"

namespace pellory::com {

// The COM types of each kind of argument and reply.
template <SessionArg>
struct ComArgOf;
template <>
struct ComArgOf<SessionArg::kText> {
  using type = BSTR;
};
template <>
struct ComArgOf<SessionArg::kTextRef> {
  using type = BSTR*;
};
template <>
struct ComArgOf<SessionArg::kBoolRef> {
  using type = VARIANT_BOOL*;
};
template <>
struct ComArgOf<SessionArg::kVariantRef> {
  using type = VARIANT*;
};
template <>
struct ComArgOf<SessionArg::kCallbackRef> {
  using type = IDispatch**;
};
template <SessionArg K>
using ComArg = typename ComArgOf<K>::type;

template <SessionReply>
struct ComReplyOf;
template <>
struct ComReplyOf<SessionReply::kText> {
  using type = BSTR*;
};
template <>
struct ComReplyOf<SessionReply::kBool> {
  using type = VARIANT_BOOL*;
};
template <>
struct ComReplyOf<SessionReply::kVariant> {
  using type = VARIANT*;
};
template <SessionReply R>
using ComReply = typename ComReplyOf<R>::type;

// `Name(arguments..., reply)` of one entry's vtable method, for use inside
// this namespace.
#define PELLORY_COM_PARAM(kind, name) ComArg<SessionArg::k##kind> name
#define PELLORY_COM_REPLY(kind) ComReply<SessionReply::k##kind> reply
#define PELLORY_COM_SIGNATURE(name, reply_kind, ...)                           \
  name(PELLORY_SESSION_EACH_ARG(PELLORY_COM_PARAM, __VA_ARGS__) __VA_OPT__(, ) \
           PELLORY_COM_REPLY(reply_kind))

// The platform object of the calling thread, made and wired on first use.
Win32Env& ThreadEnv();

class SessionObject final : public ISession {
 public:
  // Makes an object and asks it for `riid`.
  static HRESULT Create(REFIID riid, void** out);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* arg_error) override;

  // ISession: one vtable method for each entry of PELLORY_SESSION_METHODS
  // (plugin/session_methods.h), such as
  // HRESULT Configure(BSTR* rd, BSTR* page, BSTR* reply).
#define PELLORY_COM_DECLARE(slot, name, reply, ...) \
  HRESULT STDMETHODCALLTYPE PELLORY_COM_SIGNATURE(name, reply, __VA_ARGS__) override;
  PELLORY_SESSION_METHODS(PELLORY_COM_DECLARE)
#undef PELLORY_COM_DECLARE

 private:
  SessionObject();
  ~SessionObject();

  // Runs `work` holding a reference, so that a host releasing the object
  // from inside a message loop the core lets run does not free it under the
  // call; turns anything thrown into an HRESULT.
  template <typename Work>
  HRESULT Run(Work&& work);
  // Calls the core Session's `Method` with the arguments converted to its
  // kinds, then hands back the reply and the by-reference arguments it
  // changed.
  template <auto Method, SessionReply R, SessionArg... K>
  HRESULT Forward(ComReply<R> reply, ComArg<K>... args);

  std::atomic<ULONG> refs_{1};
  Win32Env& env_;
  Session session_;
};

}  // namespace pellory::com
