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

  // ISession, slot order.
  HRESULT STDMETHODCALLTYPE Install(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Uninstall(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Configure(BSTR* rd, BSTR* page, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Initialize(BSTR* data_rd, BSTR* user_rd, IDispatch** callback,
                                       BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Uninitialize(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Load(BSTR* vars, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Unload(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE FindContact(BSTR rd, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE FindList(BSTR rd, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE DoAction(BSTR rd, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE CacheStart(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE CacheEnd(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE CacheRecord(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Capabilities(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE Blocked(VARIANT_BOOL* reply) override;
  HRESULT STDMETHODCALLTYPE InstallReal(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE UninitializeReal(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE InitializeReal(VARIANT* reply) override;
  HRESULT STDMETHODCALLTYPE LoadReal(BSTR* rd, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE UnloadReal(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE FindReal(BSTR rd, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE CheckRunning(VARIANT_BOOL* start, VARIANT_BOOL* reply) override;
  HRESULT STDMETHODCALLTYPE DoActionReal(BSTR* rd, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE CacheRecordReal(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE GetContact(VARIANT* res, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE CapabilitiesReal(BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE SetProperty(BSTR* prop, VARIANT* value, BSTR* reply) override;
  HRESULT STDMETHODCALLTYPE GetProperty(BSTR* prop, BSTR* reply) override;

 private:
  SessionObject();
  ~SessionObject();

  // Runs `work` holding a reference, so that a host releasing the object
  // from inside a message loop the core lets run does not free it under the
  // call; turns anything thrown into an HRESULT.
  template <typename Work>
  HRESULT Run(Work&& work);
  // A method with a text reply.
  template <typename Work>
  HRESULT TextReply(BSTR* reply, Work&& work);

  std::atomic<ULONG> refs_{1};
  Win32Env& env_;
  Session session_;
  ITypeInfo* type_info_ = nullptr;
};

}  // namespace pellory::com
