// Platform stand-in: the COM runtime calls (initialisation, task memory,
// interlocked counts, GUID text, activation by class id).
#pragma once

#include "Unknwn.h"

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
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_ALL = 0x17;

// ---- Class ids by name and activation ----------------------------------------
// Classes are found in HKEY_CLASSES_ROOT of the registry (Registry.h):
//   <ProgID>\CLSID                      default value: the class id
//   CLSID\{class id}\ProgID            default value: the ProgID
//   CLSID\{class id}\InprocServer32    default value: the module's path
// A module is a shared library exporting DllGetClassObject (and, to be
// unloadable, DllCanUnloadNow). It is loaded on the first request for one of
// its classes and stays loaded, shared by all threads, until
// CoFreeUnusedLibraries finds DllCanUnloadNow answering S_OK.

struct COSERVERINFO;

extern "C" {

// The class id registered for a ProgID. CO_E_CLASSSTRING when the ProgID is
// not registered or its class id is no class id text; REGDB_E_READREGDB when
// the registry cannot be read. *pclsid is GUID_NULL on failure.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* pclsid);
// The ProgID of a class, allocated with CoTaskMemAlloc (the caller frees it
// with CoTaskMemFree). REGDB_E_CLASSNOTREG when the class has none; *lplpszProgID
// is null on failure.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

// Loads the class's module (in-process servers only: dwClsContext must
// include CLSCTX_INPROC_SERVER) and answers its DllGetClassObject. Errors:
// E_POINTER (no ppv), REGDB_E_CLASSNOTREG (no InprocServer32 entry, or no
// in-process context asked), CO_E_DLLNOTFOUND (the module cannot be loaded),
// CO_E_ERRORINDLL (it exports no DllGetClassObject), REGDB_E_READREGDB (the
// registry cannot be read), or what DllGetClassObject answers. On each of
// the runtime's own failures the thread's error info (GetErrorInfo) says
// which class, which module and why. pvServerInfo is ignored.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pvServerInfo,
                         REFIID riid, LPVOID* ppv);
// CoGetClassObject for IClassFactory, then its CreateInstance (whose
// failures, CLASS_E_NOAGGREGATION among them, pass through unchanged).
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
// Unloads every loaded module whose DllCanUnloadNow answers S_OK and that no
// thread is calling into through the runtime at that moment. At once, as
// Windows does in a single-threaded apartment: use it only when no other
// thread may be releasing the module's last object (a thread that has just
// dropped the count inside the module's Release still runs its code).
void CoFreeUnusedLibraries();
// Unloads only the modules that have answered S_OK at every asking for at
// least dwUnloadDelay milliseconds (INFINITE: ten minutes, the Windows
// default; 0: at once, as CoFreeUnusedLibraries), which is safe while other
// threads release objects. dwReserved must be 0.
void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved);

}  // extern "C"
