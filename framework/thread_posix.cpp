// Threads over pthreads.
#include "framework/thread.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>

namespace {

struct PosixThread {
  pthread_t thread;
  ThreadProc proc;
  void* parameter;
  bool joined = false;
};

void* Trampoline(void* arg) {
  PosixThread* t = static_cast<PosixThread*>(arg);
  t->proc(t->parameter);
  return nullptr;
}

}  // namespace

bool StartThread(ThreadProc proc, void* parameter, ThreadRef* thread) {
  PosixThread* t = new PosixThread{pthread_t(), proc, parameter};
  if (pthread_create(&t->thread, nullptr, &Trampoline, t) != 0) {
    delete t;
    *thread = ThreadRef();
    return false;
  }
  thread->handle = t;
  return true;
}

bool RaiseThreadPriority(const ThreadRef& thread) {
  PosixThread* t = static_cast<PosixThread*>(thread.handle);
  if (!t) return false;
  // Real-time scheduling needs privileges; without them the thread keeps its priority.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_RR);
  return pthread_setschedparam(t->thread, SCHED_RR, &param) == 0;
}

bool WaitForThread(const ThreadRef& thread, unsigned timeoutMs) {
  PosixThread* t = static_cast<PosixThread*>(thread.handle);
  if (!t || t->joined) return true;
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  if (pthread_timedjoin_np(t->thread, nullptr, &deadline) != 0) return false;
  t->joined = true;
  return true;
}

void ReleaseThread(ThreadRef* thread) {
  PosixThread* t = static_cast<PosixThread*>(thread->handle);
  if (t) {
    // A thread that was never joined keeps running detached; its record is no longer needed
    // by anyone once detached, since the trampoline only reads it at start.
    if (!t->joined) pthread_detach(t->thread);
    delete t;
  }
  *thread = ThreadRef();
}

void PauseMs(unsigned ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
