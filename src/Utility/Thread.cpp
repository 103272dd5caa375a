// CritSection and Mutex over the platform's Win32 critical sections and
// mutex objects.
#include "Utility/Thread.h"

#include "Utility/ExceptionBase.h"

namespace {

// The line that a failed Mutex::lock reports as its location; it is part of
// the message that reaches users, so it stays fixed.
constexpr int kMutexLockFailureLine = 500;

}  // namespace

CritSection::CritSection() {
  InitializeCriticalSection(&m_cs);
}

CritSection::~CritSection() {
  DeleteCriticalSection(&m_cs);
}

void CritSection::lock() {
  EnterCriticalSection(&m_cs);
}

void CritSection::unlock() {
  LeaveCriticalSection(&m_cs);
}

Mutex::Mutex() : m_hMutex(CreateMutexA(nullptr, FALSE, nullptr)) {}

Mutex::~Mutex() {
  if (m_hMutex != nullptr) CloseHandle(m_hMutex);
}

void Mutex::setName(const char* name) {
  if (m_hMutex != nullptr) CloseHandle(m_hMutex);
  m_hMutex = CreateMutexA(nullptr, FALSE, name);
}

void Mutex::lock() {
  // WAIT_ABANDONED: the previous owner ended while holding the mutex; the
  // wait still made this thread the owner.
  if (WaitForSingleObject(m_hMutex, INFINITE) == WAIT_FAILED) {
    const DWORD error = GetLastError();
    throw ExceptionBase(__FILE__, kMutexLockFailureLine, error, "Mutex::lock");
  }
}

void Mutex::unlock() {
  ReleaseMutex(m_hMutex);
}
