// The few thread operations the portable loader needs, over Win32 threads on Windows (no
// C++ thread library, which would tie the program to newer Windows) and pthreads elsewhere.
#pragma once
#include <cstdint>

typedef unsigned (*ThreadProc)(void* parameter);

struct ThreadRef {
  void* handle = nullptr;  // platform thread handle, null when none
};

// Starts proc(parameter) at once. Returns false when no thread could be created.
bool StartThread(ThreadProc proc, void* parameter, ThreadRef* thread);
// Raises the thread to the highest normal priority. Returns false when that was refused.
bool RaiseThreadPriority(const ThreadRef& thread);
// Waits for the thread to end; true when it has ended within timeoutMs.
bool WaitForThread(const ThreadRef& thread, unsigned timeoutMs);
// Lets go of the handle (the thread itself runs on). The ref is empty afterwards.
void ReleaseThread(ThreadRef* thread);
// Sleeps; 0 only yields the processor.
void PauseMs(unsigned ms);
