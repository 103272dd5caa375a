// The system's two lock types behind one interface: CritSection (the
// threads of one process) and Mutex (named: every process of the machine
// that uses the same name). Both are recursive for the owning thread, and
// unlock must run on the thread that locked.
#pragma once

#include "Platform/Win32.h"

class SyncObj {
 public:
  virtual ~SyncObj() = default;
  // Acquires the lock, blocking until it is free.
  virtual void lock() = 0;
  // Releases one acquisition by the calling thread.
  virtual void unlock() = 0;

 protected:
  SyncObj() = default;
  SyncObj(const SyncObj&) = default;
  SyncObj& operator=(const SyncObj&) = default;
};

// A Win32 critical section: locks among the threads of this process.
class CritSection : public SyncObj {
 public:
  CritSection();
  ~CritSection() override;
  CritSection(const CritSection&) = delete;
  CritSection& operator=(const CritSection&) = delete;

  void lock() override;
  void unlock() override;

 private:
  CRITICAL_SECTION m_cs;
};

// A Win32 mutex object. It starts unnamed (private to this object); after
// setName it is the machine-wide mutex of that name, shared by every Mutex
// and process that names it. A lock whose previous owner ended without
// unlocking succeeds (the mutex was abandoned; the caller now owns it).
class Mutex : public SyncObj {
 public:
  Mutex();
  ~Mutex() override;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Raises ExceptionBase when the wait fails (for example after a failed
  // setName left no mutex), with the last error as its code.
  void lock() override;
  void unlock() override;

  // Closes the current mutex and opens the one named `name` (creating it if
  // no process has it yet). A lock held through the old mutex is given up.
  // On failure the object holds no mutex and the next lock raises.
  void setName(const char* name);

 private:
  HANDLE m_hMutex;  // null when creating the mutex failed
};
