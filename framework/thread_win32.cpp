// Threads over Win32 CreateThread, so the program needs nothing newer than Windows XP.
#include "framework/thread.h"

#include <windows.h>

namespace {

struct Start {
  ThreadProc proc;
  void* parameter;
};

DWORD WINAPI Trampoline(LPVOID arg) {
  Start start = *static_cast<Start*>(arg);
  delete static_cast<Start*>(arg);
  return start.proc(start.parameter);
}

}  // namespace

bool StartThread(ThreadProc proc, void* parameter, ThreadRef* thread) {
  Start* start = new Start{proc, parameter};
  DWORD id = 0;
  HANDLE h = ::CreateThread(nullptr, 0, &Trampoline, start, 0, &id);
  if (!h) {
    delete start;
    *thread = ThreadRef();
    return false;
  }
  thread->handle = h;
  return true;
}

bool RaiseThreadPriority(const ThreadRef& thread) {
  return thread.handle && ::SetThreadPriority(thread.handle, THREAD_PRIORITY_HIGHEST) != 0;
}

bool WaitForThread(const ThreadRef& thread, unsigned timeoutMs) {
  return !thread.handle || ::WaitForSingleObject(thread.handle, timeoutMs) == WAIT_OBJECT_0;
}

void ReleaseThread(ThreadRef* thread) {
  if (thread->handle) ::CloseHandle(thread->handle);
  *thread = ThreadRef();
}

void PauseMs(unsigned ms) { ::Sleep(ms); }
