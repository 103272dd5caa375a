// Raw file handles: CreateFileA, ReadFile, WriteFile, SetFilePointer,
// GetFileSize, FlushFileBuffers, SetEndOfFile (CloseHandle is in
// HandleTable.cpp).
//
// A file handle owns one POSIX descriptor, opened with O_CLOEXEC. Sharing is
// enforced with flock, whose locks belong to the open file description: a
// handle opened without FILE_SHARE_READ and FILE_SHARE_WRITE holds an
// exclusive lock, any other handle a shared one, both taken without waiting.
// So a "no sharing" handle makes every later open of the file fail with
// ERROR_SHARING_VIOLATION, and is itself refused while any handle is open,
// in this process or another. The finer Windows rules (read sharing against
// write access) are not modelled. The locks are advisory: they bind only
// code that opens files through this API.
//
// A directory opens only with FILE_FLAG_BACKUP_SEMANTICS and OPEN_EXISTING,
// as on Windows; such a handle takes no lock, reads and writes nothing, and
// FlushFileBuffers on it (with GENERIC_WRITE asked) makes the directory's
// entries durable (fsync of the directory), so that a file created or
// renamed in it survives a crash.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <string>

#include "Platform/Win32Internal.h"

namespace platform::detail {
namespace {

class FileObject final : public KernelObject {
 public:
  FileObject(int fd, DWORD access, bool directory)
      : KernelObject(ObjectKind::File), m_fd(fd), m_access(access), m_directory(directory) {}
  ~FileObject() override {
    if (m_fd >= 0) close(m_fd);
  }

  DWORD CloseNow() override {
    int fd = m_fd;
    m_fd = -1;
    // A failing close can mean written data that never reached the file
    // (network file systems report it only here). The descriptor is gone
    // either way; EINTR leaves it closed on Linux.
    if (close(fd) != 0 && errno != EINTR) return ErrorFromErrno(errno, ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
  }

  int fd() const { return m_fd; }
  bool canRead() const { return !m_directory && (m_access & GENERIC_READ) != 0; }
  bool canWrite() const { return !m_directory && (m_access & GENERIC_WRITE) != 0; }
  bool canFlush() const { return (m_access & GENERIC_WRITE) != 0; }

 private:
  int m_fd;
  const DWORD m_access;
  const bool m_directory;
};

// Owns a descriptor until released.
class FdGuard {
 public:
  explicit FdGuard(int fd) : m_fd(fd) {}
  ~FdGuard() {
    if (m_fd >= 0) close(m_fd);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

// ERROR_FILE_NOT_FOUND when the file's directory exists, otherwise
// ERROR_PATH_NOT_FOUND (as Windows tells the two apart).
DWORD MissingFileError(const char* path) {
  std::string dir(path);
  std::size_t slash = dir.find_last_of('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;  // the working directory
  dir.resize(slash == 0 ? 1 : slash);
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

DWORD OpenError(const char* path, int err) {
  if (err == ENOENT) return MissingFileError(path);
  return ErrorFromErrno(err);
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens path as the disposition asks, without truncating (that waits until
// the sharing lock is held). Answers the descriptor, or -1 with err set;
// existed tells whether the file was there before.
int OpenForDisposition(const char* path, int accessFlags, DWORD disposition, bool& existed,
                       DWORD& err) {
  const int flags = accessFlags | O_CLOEXEC;
  switch (disposition) {
    case CREATE_NEW: {
      int fd = OpenRetrying(path, flags | O_CREAT | O_EXCL, 0666);
      if (fd < 0) err = errno == EEXIST ? ERROR_FILE_EXISTS : OpenError(path, errno);
      existed = false;
      return fd;
    }
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      // Create it, or else open what is there; a file deleted between the
      // two attempts sends us round again.
      for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = OpenRetrying(path, flags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
          existed = false;
          return fd;
        }
        if (errno != EEXIST) {
          err = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
          return -1;
        }
        fd = OpenRetrying(path, flags);
        if (fd >= 0) {
          existed = true;
          return fd;
        }
        if (errno != ENOENT) {
          err = OpenError(path, errno);
          return -1;
        }
        struct stat st {};
        if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
          // A dangling symbolic link: create the file it points to.
          fd = OpenRetrying(path, flags | O_CREAT, 0666);
          if (fd < 0) err = OpenError(path, errno);
          existed = false;
          return fd;
        }
      }
      err = ERROR_SHARING_VIOLATION;  // the file keeps appearing and vanishing
      return -1;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING: {
      int fd = OpenRetrying(path, flags);
      if (fd < 0) err = OpenError(path, errno);
      existed = true;
      return fd;
    }
    default:
      err = ERROR_INVALID_PARAMETER;
      return -1;
  }
}

}  // namespace
}  // namespace platform::detail

using platform::detail::ErrorFromErrno;
using platform::detail::FileObject;
using platform::detail::LookupHandleAs;
using platform::detail::ObjectKind;

namespace {

std::shared_ptr<FileObject> LookupFile(HANDLE h) {
  return LookupHandleAs<FileObject>(h, ObjectKind::File);
}

}  // namespace

extern "C" {

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
  using namespace platform::detail;
  if (lpFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (*lpFileName == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const bool read = (dwDesiredAccess & GENERIC_READ) != 0;
  const bool write = (dwDesiredAccess & GENERIC_WRITE) != 0;
  if (dwCreationDisposition == TRUNCATE_EXISTING && !write) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if ((dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0 &&
      dwCreationDisposition == OPEN_EXISTING) {
    struct stat st {};
    if (stat(lpFileName, &st) == 0 && S_ISDIR(st.st_mode)) {
      const int dirFd = OpenRetrying(lpFileName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dirFd < 0) {
        SetLastError(OpenError(lpFileName, errno));
        return INVALID_HANDLE_VALUE;
      }
      FdGuard dirGuard(dirFd);
      std::shared_ptr<FileObject> dir;
      try {
        dir = std::make_shared<FileObject>(dirFd, dwDesiredAccess, true);
      } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
      }
      dirGuard.release();
      HANDLE h = InsertHandle(std::move(dir));
      if (h == nullptr) return INVALID_HANDLE_VALUE;
      SetLastError(ERROR_SUCCESS);
      return h;
    }
  }
  // No access at all (a handle to ask for the size) still opens for reading;
  // ReadFile refuses it below.
  const int accessFlags = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;

  bool existed = false;
  DWORD err = ERROR_SUCCESS;
  int fd = OpenForDisposition(lpFileName, accessFlags, dwCreationDisposition, existed, err);
  if (fd < 0) {
    SetLastError(err);
    return INVALID_HANDLE_VALUE;
  }
  FdGuard guard(fd);

  struct stat st {};
  if (fstat(fd, &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }

  const bool shared = (dwShareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE)) != 0;
  int rc;
  do {
    rc = flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    // A file created by this call stays: whoever holds it opened it after
    // the creation and uses it now.
    SetLastError(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }

  const bool truncate = existed && (dwCreationDisposition == CREATE_ALWAYS ||
                                    dwCreationDisposition == TRUNCATE_EXISTING);
  if (truncate && st.st_size != 0) {
    do {
      rc = ftruncate(fd, 0);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      SetLastError(ErrorFromErrno(errno, ERROR_WRITE_FAULT));
      return INVALID_HANDLE_VALUE;
    }
  }

  std::shared_ptr<FileObject> file;
  try {
    file = std::make_shared<FileObject>(fd, dwDesiredAccess, false);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  guard.release();
  HANDLE h = InsertHandle(std::move(file));
  if (h == nullptr) return INVALID_HANDLE_VALUE;
  const bool reportExisting =
      existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
  SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

// Reads until the count is reached or the file ends; at the end of the file
// it answers TRUE with fewer bytes (0 when already there).
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  auto file = LookupFile(hFile);
  if (!file) return FALSE;
  if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->canRead()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto* out = static_cast<unsigned char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToRead) {
    ssize_t n = read(file->fd(), out + done, nNumberOfBytesToRead - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = done;
      SetLastError(ErrorFromErrno(errno, ERROR_READ_FAULT));
      return FALSE;
    }
    if (n == 0) break;  // end of file
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = done;
  return TRUE;
}

// Writes every byte or fails: short writes are continued, interrupted ones
// retried; a full disk answers ERROR_DISK_FULL with the count written so far.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  auto file = LookupFile(hFile);
  if (!file) return FALSE;
  if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->canWrite()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const auto* in = static_cast<const unsigned char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = write(file->fd(), in + done, nNumberOfBytesToWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
      SetLastError(ErrorFromErrno(errno, ERROR_WRITE_FAULT));
      return FALSE;
    }
    if (n == 0) {  // no progress and no error: treat as a full device
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return TRUE;
}

// The distance is lDistanceToMove alone (sign-extended) when
// lpDistanceToMoveHigh is null, else the 64-bit value of both parts. Without
// the high part, a new position beyond 32 bits fails with
// ERROR_INVALID_PARAMETER; a negative one fails with ERROR_NEGATIVE_SEEK.
// A failed call leaves the position alone. Success sets ERROR_SUCCESS, so a
// low part of 0xFFFFFFFF can be told from a failure.
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
  auto file = LookupFile(hFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  std::int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr)
    distance = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*lpDistanceToMoveHigh)) << 32) |
        static_cast<std::uint32_t>(lDistanceToMove));
  std::int64_t base;
  switch (dwMoveMethod) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = lseek(file->fd(), 0, SEEK_CUR);
      break;
    case FILE_END: {
      struct stat st {};
      base = fstat(file->fd(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
      break;
    }
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t position;
  if (__builtin_add_overflow(base, distance, &position)) {
    SetLastError(distance < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (position < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh == nullptr && position > 0xFFFFFFFFll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->fd(), static_cast<off_t>(position), SEEK_SET) < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh != nullptr)
    *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(static_cast<std::uint64_t>(position) & 0xFFFFFFFFu);
}

// Without lpFileSizeHigh the high part of a size of 4 GiB or more is lost,
// as on Windows. Success sets ERROR_SUCCESS (see SetFilePointer).
DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh) {
  auto file = LookupFile(hFile);
  if (!file) return INVALID_FILE_SIZE;
  struct stat st {};
  if (fstat(file->fd(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

// Makes written data durable (fsync); on a directory handle, its entries.
// Needs write access, as on Windows.
BOOL FlushFileBuffers(HANDLE hFile) {
  auto file = LookupFile(hFile);
  if (!file) return FALSE;
  if (!file->canFlush()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  int rc;
  do {
    rc = fsync(file->fd());
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    SetLastError(ErrorFromErrno(errno, ERROR_WRITE_FAULT));
    return FALSE;
  }
  return TRUE;
}

// Cuts or extends the file to the current position.
BOOL SetEndOfFile(HANDLE hFile) {
  auto file = LookupFile(hFile);
  if (!file) return FALSE;
  if (!file->canWrite()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  off_t position = lseek(file->fd(), 0, SEEK_CUR);
  if (position < 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  int rc;
  do {
    rc = ftruncate(file->fd(), position);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    SetLastError(ErrorFromErrno(errno, ERROR_WRITE_FAULT));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
