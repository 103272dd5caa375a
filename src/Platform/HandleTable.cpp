// The process's handle table (Win32Internal.h) and CloseHandle.
//
// A HANDLE is a key into one table of kernel objects, not a pointer: each new
// handle takes the next value of a 64-bit counter (shifted so that values
// look like aligned pointers and never equal null or INVALID_HANDLE_VALUE),
// and values are never reused. A handle that was closed, a handle of the
// wrong kind or a random value is therefore answered with
// ERROR_INVALID_HANDLE instead of reaching a freed object.
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

#include "Platform/Win32Internal.h"

namespace platform::detail {
namespace {

class HandleTable {
 public:
  HANDLE Insert(std::shared_ptr<KernelObject> obj) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::uintptr_t key = ++m_lastId << 2;
    m_objects.emplace(key, std::move(obj));
    return reinterpret_cast<HANDLE>(key);
  }

  std::shared_ptr<KernelObject> Find(HANDLE h) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_objects.find(reinterpret_cast<std::uintptr_t>(h));
    return it == m_objects.end() ? nullptr : it->second;
  }

  std::shared_ptr<KernelObject> Remove(HANDLE h) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_objects.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == m_objects.end()) return nullptr;
    std::shared_ptr<KernelObject> obj = std::move(it->second);
    m_objects.erase(it);
    return obj;
  }

 private:
  std::mutex m_lock;
  // Guarded by m_lock:
  std::uintptr_t m_lastId = 0;  // the id of the newest handle; ids start at 1
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> m_objects;
};

// The table lives for the whole process (never destroyed), so that handles
// closed by static destructors of other libraries at exit still find it.
HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> obj) {
  try {
    return Table().Insert(std::move(obj));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE h, ObjectKind kind) {
  std::shared_ptr<KernelObject> obj = Table().Find(h);
  if (!obj || obj->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return obj;
}

DWORD ErrorFromErrno(int err, DWORD ioError) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case EIO:
      return ioError;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace platform::detail

extern "C" BOOL CloseHandle(HANDLE hObject) {
  std::shared_ptr<platform::detail::KernelObject> obj = platform::detail::Table().Remove(hObject);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Once out of the table nobody can take a new reference, so a count of one
  // means this call holds the last one and may release the object itself.
  if (obj.use_count() == 1) {
    DWORD err = obj->CloseNow();
    if (err != ERROR_SUCCESS) {
      SetLastError(err);
      return FALSE;
    }
  }
  return TRUE;
}
