// Platform stand-in: the Win32 subset the system uses (critical sections,
// named mutexes, thread-local storage, thread ids, last error, raw file
// handles, Windows-1252 text conversion).
#pragma once

#include "WinTypes.h"

// ---- Last error and threads -----------------------------------------------

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;  // an I/O failure with no closer code
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_NOT_OWNER = 288;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;

extern "C" {

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

}  // extern "C"

// ---- Critical sections (recursive, one process) ----------------------------

// Opaque storage for a recursive mutex; sized for pthread_mutex_t on every
// Linux target with room to spare.
struct CRITICAL_SECTION {
  alignas(8) unsigned char opaque[64];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

extern "C" {

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

}  // extern "C"

// ---- Handles and named mutexes ----------------------------------------------
// A named mutex is shared by every process of the machine that creates or
// opens the same name, recursive for the owning thread, and survives an owner
// that ends without releasing it: the next waiter acquires it and
// WaitForSingleObject answers WAIT_ABANDONED. An unnamed mutex is private to
// its handle.

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

extern "C" {

// Answers a handle or null (GetLastError tells why). When a mutex of that
// name exists already, the handle refers to it and the last error is
// ERROR_ALREADY_EXISTS.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
// Mutex handles only: any other handle answers WAIT_FAILED
// (ERROR_INVALID_HANDLE).
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL ReleaseMutex(HANDLE hMutex);  // FALSE (ERROR_NOT_OWNER) unless owned by the caller
// Closes a mutex or file handle. FALSE with ERROR_INVALID_HANDLE for a
// handle that is not open (closed ones included); the handle is closed even
// when closing a file reports a failed write (FALSE, ERROR_WRITE_FAULT or
// ERROR_DISK_FULL).
BOOL CloseHandle(HANDLE hObject);

}  // extern "C"

// ---- Thread-local storage ---------------------------------------------------

inline constexpr DWORD TLS_OUT_OF_INDEXES = 0xFFFFFFFF;

extern "C" {

DWORD TlsAlloc();
BOOL TlsFree(DWORD dwTlsIndex);
LPVOID TlsGetValue(DWORD dwTlsIndex);  // null and ERROR_SUCCESS when unset
BOOL TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue);

}  // extern "C"

// ---- Raw file handles -------------------------------------------------------
// POSIX descriptors underneath. A share mode without FILE_SHARE_READ and
// FILE_SHARE_WRITE ("no sharing") holds an exclusive advisory lock, so a
// second open of the file fails with ERROR_SHARING_VIOLATION while the handle
// is held (in this process or another one).

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
inline constexpr DWORD FILE_SHARE_DELETE = 0x00000004;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
// Opens a directory (OPEN_EXISTING only); FlushFileBuffers on the handle,
// opened with GENERIC_WRITE, makes the directory's entries durable.
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

extern "C" {

// INVALID_HANDLE_VALUE on failure, with the last error set
// (ERROR_FILE_NOT_FOUND, ERROR_FILE_EXISTS, ERROR_SHARING_VIOLATION, ...).
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// Answers the new position's low 32 bits (and the high ones through
// lpDistanceToMoveHigh when given), INVALID_SET_FILE_POINTER on failure.
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh,
                     DWORD dwMoveMethod);
DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh);
BOOL FlushFileBuffers(HANDLE hFile);
BOOL SetEndOfFile(HANDLE hFile);

}  // extern "C"

// ---- Code pages ---------------------------------------------------------------
// Only Windows-1252 exists as the single-byte code page (CP_ACP names it too).
// WideCharToMultiByte gives characters it cannot hold their Windows best fit
// ("A" for U+0100) or else "?"; the five undefined bytes 0x81, 0x8D,
// 0x8F, 0x90, 0x9D map to the control characters of the same value, both ways.

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_1252 = 1252;
inline constexpr UINT CP_UTF8 = 65001;

// CP_UTF8 only: fail with ERROR_NO_UNICODE_TRANSLATION on malformed input
// instead of substituting U+FFFD.
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
// Windows-1252 only: no best-fit characters, the default character instead.
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

extern "C" {

// cbMultiByte / cchWideChar of -1 means "up to and including the NUL". A
// zero output size answers the size needed. Answers 0 on failure
// (ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER).
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar);

}  // extern "C"

// ---- Modules ----------------------------------------------------------------
// An HMODULE is the load address of a shared library or of the program, as
// on Windows.

extern "C" {

// The full path of the module (null: the program), without symbolic links.
// Answers its length; when nSize is too small, the path cut to nSize - 1
// characters and its terminator, nSize, and ERROR_INSUFFICIENT_BUFFER. 0 and
// ERROR_MOD_NOT_FOUND for an address that is no module's.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// A function of a module, as the C library's function pointer type.
using FARPROC = void (*)();

// Loads the shared library at lpLibFileName (or takes one more reference to
// it when it is loaded) and answers its HMODULE; null with
// ERROR_MOD_NOT_FOUND when it cannot be loaded.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// The exported function lpProcName of hModule; null with ERROR_PROC_NOT_FOUND
// when it has none, ERROR_INVALID_HANDLE for no loaded module.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// Gives back the reference LoadLibraryA took; the module is unloaded with
// its last reference.
BOOL FreeLibrary(HMODULE hLibModule);

}  // extern "C"

namespace platform {

// The module that holds address (code or data), or null when none does. A
// library uses it with the address of one of its own functions to learn its
// path for self-registration.
HMODULE ModuleOf(const void* address);

}  // namespace platform
