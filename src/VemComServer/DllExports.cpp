// The server module's four entry points, the only symbols it exports.
#include "Platform/WinTypes.h"
#include "VemComServer/ClassTable.h"

#define VEM_EXPORT __attribute__((visibility("default")))

STDAPI VEM_EXPORT DllCanUnloadNow() {
  return vemserver::CanUnloadNow();
}

STDAPI VEM_EXPORT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return vemserver::GetClassObject(rclsid, riid, ppv);
}

STDAPI VEM_EXPORT DllRegisterServer() {
  return vemserver::RegisterServer();
}

STDAPI VEM_EXPORT DllUnregisterServer() {
  return vemserver::UnregisterServer();
}
