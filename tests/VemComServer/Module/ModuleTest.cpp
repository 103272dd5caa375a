// The server module as the COM runtime meets it: loaded with dlopen, driven
// through its four exports only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Registry.h"
#include "Platform/Win32.h"
#include "Support/TempDir.h"
#include "vem/vem.h"

namespace {

using CanUnloadNowFn = HRESULT (*)();
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using RegisterFn = HRESULT (*)();

// The module, loaded for one test and unloaded after it, as a registration
// tool loads it.
class ServerModule {
 public:
  ServerModule() : m_hModule(LoadLibraryA(VEM_SERVER_MODULE_PATH)) {
    if (m_hModule == nullptr) ADD_FAILURE() << "LoadLibraryA: " << GetLastError();
    char path[4096];
    if (m_hModule != nullptr) {
      EXPECT_EQ(std::string(path, GetModuleFileNameA(m_hModule, path, sizeof path)),
                VEM_SERVER_MODULE_PATH);
    }
  }
  ~ServerModule() {
    if (m_hModule != nullptr) {
      EXPECT_TRUE(FreeLibrary(m_hModule));
    }
  }
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  template <class Fn>
  Fn Export(const char* szName) const {
    return m_hModule == nullptr ? nullptr : reinterpret_cast<Fn>(GetProcAddress(m_hModule, szName));
  }
  HRESULT CanUnloadNow() const { return Export<CanUnloadNowFn>("DllCanUnloadNow")(); }
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const {
    return Export<GetClassObjectFn>("DllGetClassObject")(clsid, iid, ppv);
  }

 private:
  HMODULE m_hModule;
};

TEST(ServerModuleTest, ExportsOnlyTheFourEntryPoints) {
  ServerModule module;
  for (const char* name :
       {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(module.Export<void*>(name), nullptr) << name;
  // The internal libraries linked into the module stay inside it.
  for (const char* name : {"_ZN9DataModelD1Ev", "_ZN9vemserver14ModuleLockCountEv"})
    EXPECT_EQ(module.Export<void*>(name), nullptr) << name;
}

TEST(ServerModuleTest, LockCountFollowsFactoriesAndObjects) {
  ServerModule module;
  EXPECT_EQ(module.CanUnloadNow(), S_OK);

  // A factory fetched and released leaves the count as it was; held, it
  // keeps the module loaded.
  IClassFactory* pFactory = nullptr;
  ASSERT_EQ(module.GetClassObject(CLSID_ComVemServer, IID_IClassFactory,
                                  reinterpret_cast<void**>(&pFactory)),
            S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  pFactory->Release();
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
  ASSERT_EQ(module.GetClassObject(CLSID_ComVemServer, IID_IClassFactory,
                                  reinterpret_cast<void**>(&pFactory)),
            S_OK);

  // An object keeps the module loaded until it is released, also after the
  // factory is gone.
  IComGenericAccessDataModel* pServer = nullptr;
  ASSERT_EQ(pFactory->CreateInstance(nullptr, IID_IComGenericAccessDataModel,
                                     reinterpret_cast<void**>(&pServer)),
            S_OK);
  pFactory->Release();
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  IComStaticAccessDataModel* pStatic = nullptr;
  ASSERT_EQ(
      pServer->QueryInterface(IID_IComStaticAccessDataModel, reinterpret_cast<void**>(&pStatic)),
      S_OK);
  IUnknown* pOther = nullptr;
  EXPECT_EQ(pServer->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pOther)),
            E_NOINTERFACE);
  EXPECT_EQ(pOther, nullptr);
  pStatic->Release();
  pServer->Release();
  EXPECT_EQ(module.CanUnloadNow(), S_OK);

  // LockServer adds and removes one lock.
  ASSERT_EQ(module.GetClassObject(CLSID_ComVemServer, IID_IClassFactory,
                                  reinterpret_cast<void**>(&pFactory)),
            S_OK);
  pFactory->LockServer(TRUE);
  pFactory->Release();
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  ASSERT_EQ(module.GetClassObject(CLSID_ComVemServer, IID_IClassFactory,
                                  reinterpret_cast<void**>(&pFactory)),
            S_OK);
  pFactory->LockServer(FALSE);
  pFactory->Release();
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST(ServerModuleTest, RefusesWhatItDoesNotServe) {
  ServerModule module;
  void* pv = reinterpret_cast<void*>(&module);
  // Only ComVemServer has a class object; the null class id of the other
  // entries matches nothing either.
  constexpr CLSID kNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
  for (const CLSID* pclsid : {&CLSID_ComDataModel, &CLSID_ComLoader, &CLSID_ComRecord, &kNull}) {
    EXPECT_EQ(module.GetClassObject(*pclsid, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);
  }
  EXPECT_EQ(module.GetClassObject(CLSID_ComVemServer, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(module.GetClassObject(CLSID_ComVemServer, IID_IComDataModel, &pv), E_NOINTERFACE);

  IClassFactory* pFactory = nullptr;
  ASSERT_EQ(module.GetClassObject(CLSID_ComVemServer, IID_IClassFactory,
                                  reinterpret_cast<void**>(&pFactory)),
            S_OK);
  IUnknown* pOuter = pFactory;  // any non-null outer object
  for (const IID* piid : {&IID_IUnknown, &IID_IComGenericAccessDataModel}) {
    pv = pOuter;
    EXPECT_EQ(pFactory->CreateInstance(pOuter, *piid, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);
  }
  EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IComDataModel, &pv), E_NOINTERFACE);
  pFactory->Release();
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

// The registry as DllRegisterServer leaves it: a fresh registry file per test.
class ServerRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("VEM_REGISTRY", m_dir.File("registry.db").c_str(), 1); }
  void TearDown() override { unsetenv("VEM_REGISTRY"); }

  // The value szName (null: the default value) of key below HKEY_CLASSES_ROOT;
  // "<missing>" when the key or the value is not there.
  static std::string Value(const std::string& key, const char* szName = nullptr) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
      return "<missing>";
    char buffer[4096];
    DWORD cb = sizeof buffer;
    DWORD type = 0;
    const LSTATUS status =
        RegQueryValueExA(hKey, szName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb);
    RegCloseKey(hKey);
    if (status != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
    return std::string(buffer, cb > 0 ? cb - 1 : 0);
  }
  static std::vector<std::string> Subkeys(const std::string& key) {
    std::vector<std::string> names;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
      return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD cch = sizeof name;
      if (RegEnumKeyExA(hKey, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.emplace_back(name, cch);
    }
    RegCloseKey(hKey);
    return names;
  }

  vemtest::TempDir m_dir;
};

TEST_F(ServerRegistrationTest, RegisteringTwiceLeavesExactlyTheServersKeys) {
  ServerModule module;
  const std::string clsid = "{41F55BCA-E9FB-47E6-984A-A96F22247DF5}";
  const std::string clsidKey = "CLSID\\" + clsid;
  ASSERT_EQ(module.Export<RegisterFn>("DllRegisterServer")(), S_OK);
  // Something an earlier installation left below the class id goes.
  HKEY hStray = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (clsidKey + "\\LocalServer32").c_str(), 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &hStray, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(hStray);
  ASSERT_EQ(module.Export<RegisterFn>("DllRegisterServer")(), S_OK);

  const struct {
    std::string key;
    const char* szName;
    std::string value;
  } kExpected[] = {
      {"VemComServer.ComVemServer.1", nullptr, "ComVemServer Class"},
      {"VemComServer.ComVemServer.1\\CLSID", nullptr, clsid},
      {"VemComServer.ComVemServer", nullptr, "ComVemServer Class"},
      {"VemComServer.ComVemServer\\CLSID", nullptr, clsid},
      {clsidKey, nullptr, "ComVemServer Class"},
      {clsidKey + "\\ProgID", nullptr, "VemComServer.ComVemServer.1"},
      {clsidKey + "\\VersionIndependentProgID", nullptr, "VemComServer.ComVemServer"},
      {clsidKey + "\\InprocServer32", nullptr, VEM_SERVER_MODULE_PATH},
      {clsidKey + "\\InprocServer32", "ThreadingModel", "both"},
      {"TypeLib\\{CCEEBF08-E3FF-41F6-ABE5-BCA6A1B02AA7}\\1.0", nullptr,
       "VemComServer 1.0 Type Library"},
      {"Interface\\{537C4C1A-A06A-44DB-9DA4-AA9C1A186CB0}", nullptr, "IComDataModel"},
  };
  for (const auto& e : kExpected)
    EXPECT_EQ(Value(e.key, e.szName), e.value) << e.key << " " << (e.szName ? e.szName : "");
  EXPECT_EQ(Subkeys(clsidKey),
            (std::vector<std::string>{"InprocServer32", "ProgID", "VersionIndependentProgID"}));
  EXPECT_EQ(Subkeys("CLSID"), std::vector<std::string>{clsid});

  // The server is found by ProgID and created through the registry.
  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(u"VemComServer.ComVemServer", &found), S_OK);
  EXPECT_TRUE(IsEqualCLSID(found, CLSID_ComVemServer));
  IComGenericAccessDataModel* pServer = nullptr;
  ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IComGenericAccessDataModel,
                             reinterpret_cast<void**>(&pServer)),
            S_OK);
  pServer->Release();

  // Unregistering removes every key but CLSID itself, and may run twice.
  for (int round = 0; round < 2; ++round)
    EXPECT_EQ(module.Export<RegisterFn>("DllUnregisterServer")(), S_OK);
  for (const auto& e : kExpected) EXPECT_EQ(Value(e.key, e.szName), "<missing>") << e.key;
  HKEY hClsid = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &hClsid), ERROR_SUCCESS);
  RegCloseKey(hClsid);
  EXPECT_TRUE(Subkeys("CLSID").empty());
  CoFreeUnusedLibraries();
}

}  // namespace
