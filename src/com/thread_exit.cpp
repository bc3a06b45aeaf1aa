// Destructors of thread_local objects, run as their thread ends.
//
// This toolchain emulates thread-local storage: each thread's thread_local
// objects live in blocks that winpthreads frees from a key destructor when
// the thread ends. The C++ runtime's own __cxa_thread_atexit keeps its list
// of destructors in a second pthread key, created after the first (the
// object is touched before its destructor is registered), and winpthreads
// runs key destructors in key order: the blocks were freed first, and the
// destructors then ran on freed memory. A thread that had used a Session
// crashed as it ended, and the host process hung in its crash handler.
//
// This module's replacement keeps each thread's list in a Win32 TLS slot
// and runs it from a TLS callback that the loader calls ahead of
// winpthreads' own (callbacks run in the order of their section names), so
// every destructor runs while the storage is still there, last registered
// first.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cxxabi.h>

#include <new>

namespace {

using Destructor = void(_GLIBCXX_CDTOR_CALLABI*)(void*);

struct Entry {
  Destructor destructor;
  void* object;
  Entry* next;
};

INIT_ONCE g_slot_once = INIT_ONCE_STATIC_INIT;
DWORD g_slot = TLS_OUT_OF_INDEXES;

BOOL CALLBACK AllocateSlot(PINIT_ONCE, PVOID, PVOID*) {
  g_slot = TlsAlloc();
  return g_slot != TLS_OUT_OF_INDEXES;
}

DWORD Slot() {
  InitOnceExecuteOnce(&g_slot_once, AllocateSlot, nullptr, nullptr);
  return g_slot;
}

// Runs the calling thread's destructors, newest first. A destructor may
// register another (by touching a thread_local not used before); it runs
// in the same pass.
void RunThreadExitList() {
  if (g_slot == TLS_OUT_OF_INDEXES) return;
  const DWORD last_error = GetLastError();
  while (auto* entry = static_cast<Entry*>(TlsGetValue(g_slot))) {
    TlsSetValue(g_slot, entry->next);
    entry->destructor(entry->object);
    delete entry;
  }
  SetLastError(last_error);
}

void NTAPI ThreadExitCallback(PVOID, DWORD reason, PVOID reserved) {
  // At process termination (reserved not null) other threads are gone and
  // the libraries the objects would call into may be detached already:
  // the system reclaims everything, so nothing is run then.
  if (reason == DLL_THREAD_DETACH || (reason == DLL_PROCESS_DETACH && reserved == nullptr)) {
    RunThreadExitList();
  }
}

}  // namespace

// ".CRT$XLB" sorts ahead of winpthreads' ".CRT$XLF" in the TLS callback
// array.
extern "C" {
__attribute__((used, section(".CRT$XLB"))) PIMAGE_TLS_CALLBACK pellory_thread_exit_callback =
    ThreadExitCallback;
}

namespace __cxxabiv1 {

extern "C" int __cxa_thread_atexit(Destructor destructor, void* object, void*) _GLIBCXX_NOTHROW {
  const DWORD slot = Slot();
  if (slot == TLS_OUT_OF_INDEXES) return -1;
  auto* entry = new (std::nothrow) Entry{destructor, object, nullptr};
  if (!entry) return -1;
  entry->next = static_cast<Entry*>(TlsGetValue(slot));
  if (!TlsSetValue(slot, entry)) {
    delete entry;
    return -1;
  }
  return 0;
}

}  // namespace __cxxabiv1
