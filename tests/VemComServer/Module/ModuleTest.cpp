// The server module as the COM runtime meets it: loaded with dlopen, driven
// through its four exports only.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Support/TempDir.h"
#include "vem/vem.h"

namespace {

using CanUnloadNowFn = HRESULT (*)();
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using RegisterFn = HRESULT (*)();

// The module, loaded for one test and unloaded after it.
class ServerModule {
 public:
  ServerModule() : m_handle(dlopen(VEM_SERVER_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) {
    if (m_handle == nullptr) ADD_FAILURE() << "dlopen: " << dlerror();
  }
  ~ServerModule() {
    if (m_handle != nullptr) dlclose(m_handle);
  }
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  template <class Fn>
  Fn Export(const char* szName) const {
    return m_handle == nullptr ? nullptr : reinterpret_cast<Fn>(dlsym(m_handle, szName));
  }
  HRESULT CanUnloadNow() const { return Export<CanUnloadNowFn>("DllCanUnloadNow")(); }
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const {
    return Export<GetClassObjectFn>("DllGetClassObject")(clsid, iid, ppv);
  }

 private:
  void* m_handle;
};

TEST(ServerModuleTest, ExportsOnlyTheFourEntryPoints) {
  ServerModule module;
  for (const char* name :
       {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(module.Export<void*>(name), nullptr) << name;
  // The libraries linked into the module stay inside it.
  EXPECT_EQ(module.Export<void*>("_ZN9DataModelD1Ev"), nullptr);
  EXPECT_EQ(module.Export<void*>("sqlite3_open_v2"), nullptr);
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
  ASSERT_EQ(pServer->QueryInterface(IID_IComStaticAccessDataModel,
                                    reinterpret_cast<void**>(&pStatic)),
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

}  // namespace
