#include "VemComServer/Module.h"

#include <atomic>

#include "Platform/ComBase.h"

namespace vemserver {
namespace {

// Changed only through the interlocked calls; read atomically.
alignas(std::atomic_ref<LONG>::required_alignment) LONG g_lLockCount = 0;

}  // namespace

void LockModule() noexcept {
  InterlockedIncrement(&g_lLockCount);
}

void UnlockModule() noexcept {
  InterlockedDecrement(&g_lLockCount);
}

LONG ModuleLockCount() noexcept {
  return std::atomic_ref<LONG>(g_lLockCount).load();
}

}  // namespace vemserver
