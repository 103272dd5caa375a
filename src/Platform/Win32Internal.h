// Platform-internal: the handle table behind HANDLE values and the mapping of
// errno values to Win32 error codes. Only the Win32 implementation files of
// this folder include it; code above the platform sees HANDLE as opaque.
#pragma once

#include <memory>

#include "Platform/Win32.h"

namespace platform::detail {

// The kinds of kernel object a HANDLE can name.
enum class ObjectKind { Mutex, File };

// An object reachable through a HANDLE. The table owns one reference per
// open handle; a call working on the object holds another for its duration,
// so CloseHandle on one thread never pulls the object from under a call
// running on another (the object dies when the last of them lets go).
class KernelObject {
 public:
  explicit KernelObject(ObjectKind kind) : m_kind(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  ObjectKind kind() const { return m_kind; }

  // Called by CloseHandle when its reference is the last one, so that a
  // failure of the release can be reported. Answers a Win32 error code,
  // ERROR_SUCCESS when the release went well. The destructor releases what
  // this has not.
  virtual DWORD CloseNow() { return ERROR_SUCCESS; }

 private:
  const ObjectKind m_kind;
};

// Enters obj into the table and answers its new handle. Handle values are
// never reused within a process, so a stale handle is always recognised.
// Answers null (last error ERROR_NOT_ENOUGH_MEMORY) when the table cannot
// grow.
HANDLE InsertHandle(std::shared_ptr<KernelObject> obj);

// Answers the object of handle h if it is of the given kind; otherwise null
// with the last error set to ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> LookupHandle(HANDLE h, ObjectKind kind);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE h, ObjectKind kind) {
  return std::static_pointer_cast<T>(LookupHandle(h, kind));
}

// The Win32 error code for an errno value; ioError is used for EIO (a read
// fault or a write fault, depending on the operation).
DWORD ErrorFromErrno(int err, DWORD ioError = ERROR_GEN_FAILURE);

// ---- Windows-1252 --------------------------------------------------------------

// The Windows-1252 byte of a UTF-16 unit; -1 when the code page has none.
int ExactByte1252(char16_t w);
// Windows' best-fit byte for a unit the code page has no byte for ("A" for
// U+0100); -1 when there is none either.
int BestFit1252(char16_t w);

}  // namespace platform::detail
