// Platform stand-in: the registry subset that self-registration and
// activation use.
//
// The registry is one SQLite file: $VEM_REGISTRY when that is set, else
// $XDG_DATA_HOME/vem/registry.db, else $HOME/.local/share/vem/registry.db.
// Every call is one transaction of its own, so several processes may use the
// file at once (a writer waits for another up to a few seconds) and a crash
// leaves each call done or not done. Reading never creates the file.
//
// Key names compare case-insensitively and keep the case they were created
// with; "\" separates subkeys. Values keep their type and bytes, except that
// string values (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are stored in UTF-16
// and always end with their terminator(s): the A calls convert from and to
// Windows-1252 (every byte round-trips), and a query always answers a
// terminated string, even when the writer left the terminator out.
//
// Calls answer Windows error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_MORE_DATA, ERROR_INVALID_HANDLE, ...). When the
// file itself fails (unreadable, corrupt, locked for too long) the code is
// ERROR_ACCESS_DENIED, ERROR_BADDB, ERROR_BUSY or ERROR_REGISTRY_IO_FAILED,
// and platform::RegistryFailureText() tells what failed, where.
#pragma once

#include <cstdint>
#include <string>

#include "Win32.h"
#include "WinTypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

struct SECURITY_ATTRIBUTES;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// The predefined keys, with their Windows (sign-extended) values. Their
// handles are always open; RegCloseKey on them does nothing.
inline HKEY const HKEY_CLASSES_ROOT =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000000)));
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001)));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002)));

// Access rights of an opened key. A call that needs a right the handle was
// not opened with answers ERROR_ACCESS_DENIED.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD ERROR_BAD_PATHNAME = 161;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_BADDB = 1009;
inline constexpr DWORD ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;

extern "C" {

// Opens subkey lpSubKey of hKey, creating it and any missing keys on the
// way (which needs KEY_CREATE_SUB_KEY on hKey). A null or empty lpSubKey
// opens hKey again. *lpdwDisposition (when given) tells REG_CREATED_NEW_KEY
// or REG_OPENED_EXISTING_KEY. An empty name part ("a\\\\b", a leading "\")
// answers ERROR_BAD_PATHNAME; a part longer than 255 characters
// ERROR_INVALID_PARAMETER.
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, SECURITY_ATTRIBUTES* lpSecurityAttributes,
                        PHKEY phkResult, DWORD* lpdwDisposition);
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                        DWORD dwOptions, REGSAM samDesired,
                        SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        DWORD* lpdwDisposition);
// ERROR_FILE_NOT_FOUND when the key does not exist.
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
// ERROR_INVALID_HANDLE for a handle that is not open; predefined keys
// answer ERROR_SUCCESS.
LSTATUS RegCloseKey(HKEY hKey);

// A null or empty value name is the key's default value. Needs
// KEY_SET_VALUE.
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData);
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData);
// Needs KEY_QUERY_VALUE. Without lpData, *lpcbData receives the size in
// bytes; with a buffer too small, ERROR_MORE_DATA and the size needed (the
// buffer's contents are then undefined). ERROR_FILE_NOT_FOUND for a value
// that does not exist.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                         BYTE* lpData, DWORD* lpcbData);
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                         BYTE* lpData, DWORD* lpcbData);
// Needs KEY_SET_VALUE; ERROR_FILE_NOT_FOUND when there is no such value.
LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);

// Deletes subkey lpSubKey (an empty name: the key hKey itself) with its
// values. A key that has subkeys is not deleted: ERROR_ACCESS_DENIED, as on
// Windows; neither is a predefined key.
LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
// Deletes subkey lpSubKey with everything below it; a null lpSubKey deletes
// everything below hKey and its values but keeps the key. Needs DELETE,
// KEY_ENUMERATE_SUB_KEYS and KEY_QUERY_VALUE on hKey.
LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

// The name of the dwIndex-th subkey, in case-insensitive name order. Needs
// KEY_ENUMERATE_SUB_KEYS. *lpcchName holds the buffer's size in characters
// (terminator included) and receives the name's length (without it);
// ERROR_MORE_DATA when the buffer is too small, ERROR_NO_MORE_ITEMS past the
// last subkey. Keys have no class here: lpClass receives "". The write time
// is not kept: lpftLastWriteTime receives zero.
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                      LPSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime);
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                      LPWSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime);

}  // extern "C"

namespace platform {

// The registry file the calls of this process use now.
std::string RegistryPath();
// What the last failing registry call of this thread could not do with the
// file, and which file: "" when it failed for an ordinary reason (no such
// key, access, buffer size) or did not fail.
std::string RegistryFailureText();

}  // namespace platform
