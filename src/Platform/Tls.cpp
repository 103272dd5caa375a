// Thread-local storage slots over pthread keys. The slot index is the key.
// Which keys this API allocated is recorded, so that an index that was never
// allocated (or was freed) is refused with ERROR_INVALID_PARAMETER instead of
// reading another user's key. Values left in a slot are not freed when a
// thread ends or the slot is freed, as on Windows.
#include <limits.h>
#include <pthread.h>

#include <atomic>

#include "Platform/Win32.h"

namespace {

constexpr DWORD kMaxKeys = PTHREAD_KEYS_MAX;

std::atomic<bool> g_allocated[kMaxKeys];

bool IsAllocated(DWORD index) {
  return index < kMaxKeys && g_allocated[index].load(std::memory_order_acquire);
}

}  // namespace

extern "C" {

DWORD TlsAlloc() {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TLS_OUT_OF_INDEXES;
  }
  if (key >= kMaxKeys) {  // not expected: keys are below PTHREAD_KEYS_MAX
    pthread_key_delete(key);
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TLS_OUT_OF_INDEXES;
  }
  g_allocated[key].store(true, std::memory_order_release);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(key);
}

BOOL TlsFree(DWORD dwTlsIndex) {
  if (dwTlsIndex >= kMaxKeys || !g_allocated[dwTlsIndex].exchange(false)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pthread_key_delete(static_cast<pthread_key_t>(dwTlsIndex));
  return TRUE;
}

LPVOID TlsGetValue(DWORD dwTlsIndex) {
  if (!IsAllocated(dwTlsIndex)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Set on success too, so that a caller can tell a stored null from a
  // failure.
  SetLastError(ERROR_SUCCESS);
  return pthread_getspecific(static_cast<pthread_key_t>(dwTlsIndex));
}

BOOL TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue) {
  if (!IsAllocated(dwTlsIndex)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (pthread_setspecific(static_cast<pthread_key_t>(dwTlsIndex), lpTlsValue) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
