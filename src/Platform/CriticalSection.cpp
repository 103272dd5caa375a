// Critical sections: a recursive, process-private pthread mutex placed in the
// caller's CRITICAL_SECTION storage. Unlike a Win32 mutex, a critical section
// does not survive an owner that ends while holding it (neither does the
// Windows one: waiters then block for good).
#include <pthread.h>

#include <cstdlib>
#include <new>

#include "Platform/Win32.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque),
              "CRITICAL_SECTION storage cannot hold a pthread mutex");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "CRITICAL_SECTION storage is not aligned for a pthread mutex");

namespace {

pthread_mutex_t* MutexOf(LPCRITICAL_SECTION cs) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->opaque));
}

// A failure to initialise or enter means a critical section that was never
// initialised or was already deleted: a programming error with no way to
// report it (the Win32 calls return nothing), so it ends the process rather
// than let the caller run unlocked.
void Check(int rc) {
  if (rc != 0) std::abort();
}

}  // namespace

extern "C" {

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutexattr_t attr;
  Check(pthread_mutexattr_init(&attr));
  Check(pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE));
  auto* mutex = new (lpCriticalSection->opaque) pthread_mutex_t;
  Check(pthread_mutex_init(mutex, &attr));
  pthread_mutexattr_destroy(&attr);
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_destroy(MutexOf(lpCriticalSection));
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  Check(pthread_mutex_lock(MutexOf(lpCriticalSection)));
}

// Leaving a critical section that the thread does not own changes nothing
// (the recursive mutex refuses with EPERM and keeps its state).
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_unlock(MutexOf(lpCriticalSection));
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return pthread_mutex_trylock(MutexOf(lpCriticalSection)) == 0 ? TRUE : FALSE;
}

}  // extern "C"
