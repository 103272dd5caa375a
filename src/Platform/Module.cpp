// Modules: GetModuleFileNameA and platform::ModuleOf (Win32.h).
//
// An HMODULE is the load address of a module (dladdr's dli_fbase), as on
// Windows, where it is the image base. The program's own path comes from
// /proc/self/exe; a library's is dladdr's file name made absolute.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "Platform/Win32.h"

namespace {

// The program's path, or "" when it cannot be read.
std::string ProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  return n <= 0 || n >= static_cast<ssize_t>(sizeof buffer) ? std::string()
                                                            : std::string(buffer, n);
}

// The path of the module loaded at base, or "" when there is none.
std::string ModulePath(HMODULE base) {
  if (base == nullptr) return ProgramPath();
  Dl_info info{};
  if (dladdr(base, &info) == 0 || info.dli_fbase != base) return std::string();
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return ProgramPath();
  char* resolved = realpath(info.dli_fname, nullptr);
  if (resolved == nullptr) return ProgramPath();  // the program, named as it was started
  std::string path(resolved);
  free(resolved);
  return path;
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  try {
    path = ModulePath(hModule);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr && nSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (path.size() + 1 > nSize) {
    if (nSize > 0) {
      std::memcpy(lpFilename, path.data(), nSize - 1);
      lpFilename[nSize - 1] = '\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

namespace platform {

HMODULE ModuleOf(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return info.dli_fbase;
}

}  // namespace platform
