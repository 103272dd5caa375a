// ComVemServer: the one class that clients create. Stateless; its two
// methods build a generic or a static data model and hand it out wrapped in
// a ComDataModel object.
#pragma once

#include "Platform/WinTypes.h"

namespace vemserver {

// A new ComVemServer answering riid into *ppv (reference count 1), for the
// class factory. E_NOINTERFACE (and the object gone) for an interface it
// does not have, E_OUTOFMEMORY when it cannot be allocated.
HRESULT CreateComVemServer(REFIID riid, void** ppv) noexcept;

}  // namespace vemserver
