// The module's lock count: while it is above 0 the module answers S_FALSE to
// DllCanUnloadNow and must stay loaded.
//
// Every COM object of the server holds one lock for its whole life (a
// ModuleLock member), the class factory one while a client holds it, and
// IClassFactory::LockServer adds and removes locks. The count is changed
// with interlocked operations only.
#pragma once

#include "Platform/WinTypes.h"

namespace vemserver {

void LockModule() noexcept;
void UnlockModule() noexcept;
// The current count (for DllCanUnloadNow and tests).
LONG ModuleLockCount() noexcept;

// One lock, taken at construction and given back at destruction.
class ModuleLock {
 public:
  ModuleLock() noexcept { LockModule(); }
  ~ModuleLock() { UnlockModule(); }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace vemserver
