// Last error and thread/process identity.
//
// The last error is per thread, as on Windows. A thread id is the kernel's
// thread id (gettid): stable for the thread's life and distinct among all
// live threads of the machine; it is read from the kernel on every call, so
// that the child of a fork sees its own id.
#include <sys/types.h>
#include <unistd.h>

#include "Platform/Win32.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

extern "C" {

DWORD GetLastError() {
  return t_lastError;
}

void SetLastError(DWORD dwErrCode) {
  t_lastError = dwErrCode;
}

DWORD GetCurrentThreadId() {
  return static_cast<DWORD>(gettid());
}

DWORD GetCurrentProcessId() {
  return static_cast<DWORD>(getpid());
}

}  // extern "C"
