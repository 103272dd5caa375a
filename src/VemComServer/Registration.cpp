#include "VemComServer/Registration.h"

#include <array>
#include <string>

#include "Platform/ComBase.h"
#include "Platform/Registry.h"
#include "Platform/Win32.h"
#include "vem/ComBlob.h"
#include "vem/ComDataModel.h"
#include "vem/ComRecords.h"
#include "vem/IkivBackChannel.h"
#include "vem/StaticDataModel.h"
#include "vem/VemServerLib.h"

namespace vemserver {
namespace {

constexpr char kServerDescription[] = "ComVemServer Class";
constexpr char kTypeLibHelpString[] = "VemComServer 1.0 Type Library";

// A registry key closed on every way out.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (m_hKey != nullptr) RegCloseKey(m_hKey);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  LONG Create(HKEY hParent, const std::string& subKey) {
    return RegCreateKeyExA(hParent, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &m_hKey, nullptr);
  }
  LONG SetString(const char* szName, const std::string& value) {
    return RegSetValueExA(m_hKey, szName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  }

 private:
  HKEY m_hKey = nullptr;
};

HRESULT FromWin32(LONG lError) {
  return lError == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(lError));
}

// Writes key (below HKEY_CLASSES_ROOT) with its default value and, when
// szName is given, one more named string value.
HRESULT WriteKey(const std::string& key, const std::string& defaultValue,
                 const char* szName = nullptr, const std::string& namedValue = {}) {
  RegKey k;
  LONG lError = k.Create(HKEY_CLASSES_ROOT, key);
  if (lError == ERROR_SUCCESS) lError = k.SetString(nullptr, defaultValue);
  if (lError == ERROR_SUCCESS && szName != nullptr) lError = k.SetString(szName, namedValue);
  return FromWin32(lError);
}

// Deletes key and its subkeys; a key that is not there is no failure.
HRESULT DeleteKey(const std::string& key) {
  const LONG lError = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
  return lError == ERROR_SUCCESS || lError == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(lError);
}

std::string GuidText(REFGUID guid) {
  OLECHAR text[40];
  const int n = StringFromGUID2(guid, text, 40);
  std::string narrow;
  for (int i = 0; i + 1 < n; ++i) narrow += static_cast<char>(text[i]);
  return narrow;
}

// The full path of this module (the shared library that holds this code).
std::string ModulePath() {
  char path[4096];
  const DWORD n = GetModuleFileNameA(platform::ModuleOf(reinterpret_cast<const void*>(&ModulePath)),
                                     path, static_cast<DWORD>(sizeof path));
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}

std::string DirectoryOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

struct InterfaceName {
  const IID* piid;
  const char* szName;
};

// The interfaces the type library describes.
constexpr std::array<InterfaceName, 14> kInterfaces = {{
    {&IID_IComRecord, "IComRecord"},
    {&IID_IkivIStream, "IkivIStream"},
    {&IID_IkivOStream, "IkivOStream"},
    {&IID_IComBlobStrategy, "IComBlobStrategy"},
    {&IID_IComLoader, "IComLoader"},
    {&IID_IComSaver, "IComSaver"},
    {&IID_IComRecordsetStrategy, "IComRecordsetStrategy"},
    {&IID_IComDataModel, "IComDataModel"},
    {&IID_IComDataModelExt, "IComDataModelExt"},
    {&IID_IComGenericAccessDataModel, "IComGenericAccessDataModel"},
    {&IID_IComStaticAccessDataModel, "IComStaticAccessDataModel"},
    {&IID_IkivBackChannel, "IkivBackChannel"},
    {&IID_IComStaticDataModelCallback, "IComStaticDataModelCallback"},
    {&IID_IComStaticDataModelCreator, "IComStaticDataModelCreator"},
}};

std::string TypeLibVersion() {
  return std::to_string(kVEMServerLibMajor) + "." + std::to_string(kVEMServerLibMinor);
}

}  // namespace

HRESULT UpdateRegistryComVemServer(bool bRegister) noexcept {
  try {
    const std::string clsidKey = "CLSID\\" + GuidText(CLSID_ComVemServer);
    const std::string progId = kVemServerProgId;
    const std::string indepProgId = kVemServerVersionIndependentProgId;
    if (!bRegister) {
      DeleteKey(progId);
      DeleteKey(indepProgId);
      DeleteKey(clsidKey);
      return S_OK;
    }
    const std::string modulePath = ModulePath();
    if (modulePath.empty()) return E_FAIL;
    const std::string clsidText = GuidText(CLSID_ComVemServer);
    HRESULT hr = WriteKey(progId, kServerDescription);
    if (SUCCEEDED(hr)) hr = WriteKey(progId + "\\CLSID", clsidText);
    if (SUCCEEDED(hr)) hr = WriteKey(indepProgId, kServerDescription);
    if (SUCCEEDED(hr)) hr = WriteKey(indepProgId + "\\CLSID", clsidText);
    // The class id key is written afresh: what an earlier registration left
    // below it goes first.
    if (SUCCEEDED(hr)) hr = DeleteKey(clsidKey);
    if (SUCCEEDED(hr)) hr = WriteKey(clsidKey, kServerDescription);
    if (SUCCEEDED(hr)) hr = WriteKey(clsidKey + "\\ProgID", progId);
    if (SUCCEEDED(hr)) hr = WriteKey(clsidKey + "\\VersionIndependentProgID", indepProgId);
    if (SUCCEEDED(hr))
      hr = WriteKey(clsidKey + "\\InprocServer32", modulePath, "ThreadingModel", "both");
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterTypeLibrary() noexcept {
  try {
    const std::string modulePath = ModulePath();
    if (modulePath.empty()) return E_FAIL;
    const std::string libId = GuidText(LIBID_VEMServerLib);
    const std::string libKey = "TypeLib\\" + libId + "\\" + TypeLibVersion();
    HRESULT hr = DeleteKey(libKey);
    if (SUCCEEDED(hr)) hr = WriteKey(libKey, kTypeLibHelpString);
    if (SUCCEEDED(hr)) hr = WriteKey(libKey + "\\0\\linux", modulePath);
    if (SUCCEEDED(hr)) hr = WriteKey(libKey + "\\FLAGS", "0");
    if (SUCCEEDED(hr)) hr = WriteKey(libKey + "\\HELPDIR", DirectoryOf(modulePath));
    for (const InterfaceName& itf : kInterfaces) {
      if (FAILED(hr)) break;
      const std::string key = "Interface\\" + GuidText(*itf.piid);
      hr = DeleteKey(key);
      if (SUCCEEDED(hr)) hr = WriteKey(key, itf.szName);
      if (SUCCEEDED(hr)) hr = WriteKey(key + "\\TypeLib", libId, "Version", TypeLibVersion());
    }
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterTypeLibrary() noexcept {
  try {
    const std::string libId = GuidText(LIBID_VEMServerLib);
    DeleteKey("TypeLib\\" + libId + "\\" + TypeLibVersion());
    // The library's key goes with its last version.
    HKEY hLib = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libId).c_str(), 0, KEY_READ, &hLib) ==
        ERROR_SUCCESS) {
      char name[256];
      DWORD cchName = sizeof name;
      const bool bEmpty = RegEnumKeyExA(hLib, 0, name, &cchName, nullptr, nullptr, nullptr,
                                        nullptr) != ERROR_SUCCESS;
      RegCloseKey(hLib);
      if (bEmpty) DeleteKey("TypeLib\\" + libId);
    }
    for (const InterfaceName& itf : kInterfaces) DeleteKey("Interface\\" + GuidText(*itf.piid));
    return S_OK;
  } catch (...) {
    return S_OK;
  }
}

}  // namespace vemserver
