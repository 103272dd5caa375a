// The module's table of classes and the work of the four entry points.
//
// Seven entries, fixed at build time: the six classes that clients cannot
// create (blob, stream, loader, saver, recordset and data model objects:
// null class id, no creators, a registry update that does nothing) and
// ComVemServer, the one creatable class, whose registry update writes its
// keys. Each entry caches its class factory once one was asked for; the
// cache lives until the module is unloaded.
#pragma once

#include "Platform/WinTypes.h"

namespace vemserver {

// DllGetClassObject: the class factory of the first entry with creators and
// class id rclsid, answering riid into *ppv.
HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
// DllCanUnloadNow: S_OK when the module lock count is 0, else S_FALSE.
HRESULT CanUnloadNow() noexcept;
// DllRegisterServer / DllUnregisterServer: every entry's registry update in
// order (registering stops at the first failure), then the type library.
HRESULT RegisterServer() noexcept;
HRESULT UnregisterServer() noexcept;

}  // namespace vemserver
