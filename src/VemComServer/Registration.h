// The registry entries of the server module.
//
// ComVemServer is registered below HKEY_CLASSES_ROOT under its two ProgIDs
// and its class id (InprocServer32 = the module's full path, ThreadingModel
// "both"); the class id key is deleted with its subkeys before it is written,
// so registering twice leaves one set of values. The type library is
// registered by writing the keys a type library registration writes
// (TypeLib\{LIBID}\1.0 and Interface\{IID} for each interface).
#pragma once

#include "Platform/WinTypes.h"

namespace vemserver {

// Writes (bRegister) or removes the keys of ComVemServer; the first
// registry failure as an HRESULT.
HRESULT UpdateRegistryComVemServer(bool bRegister) noexcept;
HRESULT RegisterTypeLibrary() noexcept;
HRESULT UnregisterTypeLibrary() noexcept;

}  // namespace vemserver
