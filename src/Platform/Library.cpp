// LoadLibraryA, GetProcAddress and FreeLibrary (Win32.h): modules loaded by
// path, as a registration tool loads a server to call its
// DllRegisterServer.
//
// The HMODULE is the module's load address, as GetModuleFileNameA and
// platform::ModuleOf use it. The dynamic loader's handle is found again from
// that address (dladdr gives the file, dlopen with RTLD_NOLOAD the handle of
// the module already loaded, without loading anything).
#include <dlfcn.h>
#include <link.h>

#include <cerrno>

#include "Platform/Win32.h"

namespace {

// The loader's handle of the module loaded at hModule (one more reference:
// the caller closes it), or null.
void* HandleOf(HMODULE hModule) {
  Dl_info info{};
  if (hModule == nullptr || dladdr(hModule, &info) == 0 || info.dli_fbase != hModule ||
      info.dli_fname == nullptr)
    return nullptr;
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

}  // namespace

extern "C" {

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* handle = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // The load address: the base of the module whose dynamic section the
  // loader's link map names.
  link_map* pMap = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &pMap) != 0 || pMap == nullptr ||
      dladdr(pMap->l_ld, &info) == 0 || info.dli_fbase == nullptr) {
    dlclose(handle);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(info.dli_fbase);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  void* handle = HandleOf(hModule);
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* pProc = lpProcName != nullptr ? dlsym(handle, lpProcName) : nullptr;
  dlclose(handle);
  if (pProc == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(pProc);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  void* handle = HandleOf(hLibModule);
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dlclose(handle);  // the reference HandleOf took
  dlclose(handle);  // the reference LoadLibraryA took
  return TRUE;
}

}  // extern "C"
