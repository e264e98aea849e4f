// Keeps Windows programs loadable on Windows 2000 and XP: import slots for the few kernel32
// functions that the static runtime imports and that those systems do not export.
//
// How a slot works: the runtime's objects call these functions through "__imp__Name@N", the
// pointer that the loader fills from the import table. Defining that pointer here satisfies the
// reference inside the program, so the linker never pulls the import library's member and the
// name never enters the import table; a system without the function then has nothing to refuse
// at load time. Each slot points at a function that looks up the system's own with
// GetProcAddress and calls it where it exists, so on newer systems nothing changes; only where it
// is missing does a stand-in answer. The import check in tests/win32 keeps the list complete.
//
// The lookup happens at each call and keeps no static state: the thread library calls the
// vectored-handler pair from its TLS callback at process attach and detach, before the C
// runtime has started and after it has stopped, and any thread may call the tick count.
#include <windows.h>

namespace {

typedef ULONGLONG(WINAPI* TickCount64Proc)();
typedef PVOID(WINAPI* AddVectoredHandlerProc)(ULONG, PVECTORED_EXCEPTION_HANDLER);
typedef ULONG(WINAPI* RemoveVectoredHandlerProc)(PVOID);

// kernel32 is mapped into every process before any of our code runs, so this never loads a DLL.
template <typename Proc>
Proc SystemFunction(const char* name) {
  return reinterpret_cast<Proc>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name));
}

// GetTickCount64 (Vista and later). The thread library reads it only in its timed waits, to wait
// again after a time-out that came early. Stand-in: GetTickCount, the same clock in 32 bits. It
// wraps after 49.7 days of uptime, and a timed wait in progress across the wrap could then wait
// far too long; these programs make no timed waits through the thread library (their threads and
// waits are the framework's own, on Win32 calls), whose only users here are the compiler's
// exception and static-initialisation support, with untimed locks only: the stand-in is unused.
ULONGLONG WINAPI TickCount64() {
  TickCount64Proc system = SystemFunction<TickCount64Proc>("GetTickCount64");
  if (system != nullptr) return system();
  return ::GetTickCount();
}

// AddVectoredExceptionHandler (XP and later). The thread library installs one handler at process
// attach, for one purpose: to swallow the exception (0x406D1388) by which pthread_setname_np
// tells a debugger a thread's name, which would otherwise end a process that has no debugger.
// Stand-in: NULL, the function's own failure value, installing nothing. The runtime keeps NULL
// as "no handler" and then raises the naming exception only while a debugger is attached (the
// debugger consumes it); without one it just records the name. These programs never name a
// thread, and nothing else in them relies on vectored handlers: C++ exceptions are unwound by the
// compiler's runtime from its own tables, without raising a Windows exception.
PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
  AddVectoredHandlerProc system =
      SystemFunction<AddVectoredHandlerProc>("AddVectoredExceptionHandler");
  if (system != nullptr) return system(first, handler);
  return nullptr;
}

// RemoveVectoredExceptionHandler (XP and later). The thread library calls it at process detach,
// and only with a non-NULL handle from the function above. Where the system lacks the pair, that
// handle is always NULL and this is never called; the stand-in exists so that the name resolves,
// and answers 0, "nothing removed", which is true.
ULONG WINAPI RemoveVectoredHandler(PVOID handle) {
  RemoveVectoredHandlerProc system =
      SystemFunction<RemoveVectoredHandlerProc>("RemoveVectoredExceptionHandler");
  if (system != nullptr) return system(handle);
  return 0;
}

}  // namespace

// The names under which the runtime's import references look for the functions' addresses
// (stdcall: the argument bytes follow the '@').
extern "C" {
extern const TickCount64Proc zarn_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0");
const TickCount64Proc zarn_imp_GetTickCount64 = &TickCount64;

extern const AddVectoredHandlerProc zarn_imp_AddVectoredExceptionHandler
    __asm__("__imp__AddVectoredExceptionHandler@8");
const AddVectoredHandlerProc zarn_imp_AddVectoredExceptionHandler = &AddVectoredHandler;

extern const RemoveVectoredHandlerProc zarn_imp_RemoveVectoredExceptionHandler
    __asm__("__imp__RemoveVectoredExceptionHandler@4");
const RemoveVectoredHandlerProc zarn_imp_RemoveVectoredExceptionHandler = &RemoveVectoredHandler;
}
