#include "VemComServer/ClassTable.h"

#include <array>
#include <mutex>
#include <new>

#include "Utility/Thread.h"
#include "VemComServer/ClassFactory.h"
#include "VemComServer/ComVemServer.h"
#include "VemComServer/Module.h"
#include "VemComServer/Registration.h"
#include "vem/VemServerLib.h"

namespace vemserver {
namespace {

inline constexpr CLSID kNullClsid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

HRESULT NoRegistryUpdate(bool /*bRegister*/) noexcept {
  return S_OK;
}

struct ClassEntry {
  const CLSID* pclsid;
  HRESULT (*pfnUpdateRegistry)(bool bRegister) noexcept;
  InstanceCreator pfnCreateInstance;  // null: not creatable, no class object
  IClassFactory* pFactory;            // cached first reference, null until asked for
};

// The module's state. Built when the module is loaded; its destructor (at
// unload) releases the cached class factories.
class Module {
 public:
  Module()
      : m_entries{{
            {&kNullClsid, &NoRegistryUpdate, nullptr, nullptr},  // ComBlobStrategy
            {&kNullClsid, &NoRegistryUpdate, nullptr, nullptr},  // ComIOStream
            {&kNullClsid, &NoRegistryUpdate, nullptr, nullptr},  // ComLoader
            {&kNullClsid, &NoRegistryUpdate, nullptr, nullptr},  // ComSaver
            {&kNullClsid, &NoRegistryUpdate, nullptr, nullptr},  // ComRecordsetStrategy
            {&kNullClsid, &NoRegistryUpdate, nullptr, nullptr},  // ComDataModel
            {&CLSID_ComVemServer, &UpdateRegistryComVemServer, &CreateComVemServer, nullptr},
        }} {}

  ~Module() {
    for (ClassEntry& entry : m_entries) {
      if (entry.pFactory != nullptr) entry.pFactory->Release();
      entry.pFactory = nullptr;
    }
  }

  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    for (ClassEntry& entry : m_entries) {
      if (entry.pfnCreateInstance == nullptr || *entry.pclsid != rclsid) continue;
      if (entry.pFactory == nullptr) {
        std::lock_guard<CritSection> guard(m_factoryLock);
        if (entry.pFactory == nullptr) {
          entry.pFactory = new (std::nothrow) ClassFactory(entry.pfnCreateInstance);
          if (entry.pFactory == nullptr) return E_OUTOFMEMORY;
        }
      }
      return entry.pFactory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
  }

  HRESULT Register() noexcept {
    for (ClassEntry& entry : m_entries) {
      const HRESULT hr = entry.pfnUpdateRegistry(true);
      if (FAILED(hr)) return hr;
    }
    return RegisterTypeLibrary();
  }

  HRESULT Unregister() noexcept {
    for (ClassEntry& entry : m_entries) entry.pfnUpdateRegistry(false);
    UnregisterTypeLibrary();
    return S_OK;
  }

 private:
  std::array<ClassEntry, 7> m_entries;
  // Serialises the lazy creation of class factories (tested again inside).
  CritSection m_factoryLock;
};

Module& TheModule() {
  static Module s_module;
  return s_module;
}

// Builds the module state at load time, as the process attach does, so that
// no entry point races the construction of the function-local static.
[[maybe_unused]] const bool g_bModuleReady = (TheModule(), true);

}  // namespace

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  return TheModule().GetClassObject(rclsid, riid, ppv);
}

HRESULT CanUnloadNow() noexcept {
  return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT RegisterServer() noexcept {
  return TheModule().Register();
}

HRESULT UnregisterServer() noexcept {
  return TheModule().Unregister();
}

}  // namespace vemserver
