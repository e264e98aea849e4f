// Keeps Windows programs loadable on Windows XP. The static C++ runtime's thread support
// (winpthreads, which the exception unwinder pulls in) imports GetTickCount64, and XP's
// kernel32 has no such export. Defining the import slot here makes the linker bind the runtime
// to our function instead of a DLL import: it calls the system's GetTickCount64 where one
// exists and falls back to GetTickCount on XP.
#include <windows.h>

namespace {

typedef ULONGLONG(WINAPI* TickCount64Proc)();

ULONGLONG WINAPI TickCount64() {
  // Looked up at each call: no static state, so it is safe before initialisation and from any
  // thread. The runtime measures only short waits with it.
  TickCount64Proc system = reinterpret_cast<TickCount64Proc>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTickCount64"));
  if (system != nullptr) return system();
  return ::GetTickCount();
}

}  // namespace

// The name under which the runtime's import reference looks for the function's address.
extern "C" {
extern const TickCount64Proc zarn_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0");
const TickCount64Proc zarn_imp_GetTickCount64 = &TickCount64;
}
