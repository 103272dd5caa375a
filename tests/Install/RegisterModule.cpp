// Registers a server module as a registration tool does: loads it and calls
// its DllRegisterServer. Used by the installed-client test while the installed
// tool has no `vem register`.
//
// Usage: vem_register_module MODULE
#include <cstdio>

#include "Platform/Win32.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vem_register_module MODULE\n");
    return 2;
  }
  HMODULE hModule = LoadLibraryA(argv[1]);
  if (hModule == nullptr) {
    std::fprintf(stderr, "vem_register_module: cannot load %s\n", argv[1]);
    return 1;
  }
  using RegisterFn = HRESULT (*)();
  auto pfnRegister = reinterpret_cast<RegisterFn>(GetProcAddress(hModule, "DllRegisterServer"));
  const HRESULT hr = pfnRegister != nullptr ? pfnRegister() : E_FAIL;
  FreeLibrary(hModule);
  if (hr != S_OK) {
    std::fprintf(stderr, "vem_register_module: DllRegisterServer of %s failed with 0x%08X\n",
                 argv[1], static_cast<unsigned>(hr));
    return 1;
  }
  return 0;
}
