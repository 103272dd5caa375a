// Platform stand-in: the COM runtime calls (initialisation, task memory,
// interlocked counts, GUID text, activation by class id).
#pragma once

#include "Platform/Unknwn.h"

extern "C" {

// Per-thread initialisation count: the first call on a thread answers S_OK,
// later ones S_FALSE; each successful call needs one CoUninitialize.
HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();

LPVOID CoTaskMemAlloc(SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

LONG InterlockedIncrement(LONG volatile* plAddend);  // returns the new value
LONG InterlockedDecrement(LONG volatile* plAddend);  // returns the new value

// GUID text in registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// upper-case hex. StringFromGUID2 answers the characters written including
// the terminator (39), or 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// Parses the registry form (braces required, hex case-insensitive, nothing
// after the closing brace); CO_E_CLASSSTRING for anything else, with
// *pclsid set to GUID_NULL. A null lpsz gives GUID_NULL and S_OK, as on
// Windows.
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);

}  // extern "C"

// Class contexts of CoCreateInstance; only in-process servers exist here.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_ALL = 0x17;
