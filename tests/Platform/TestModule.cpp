// A real in-process server for the activation tests: one class
// (CLSID_VemTestObject), a class factory, a module lock count, and the entry
// points the tests call, registering itself through the registry calls with the path
// GetModuleFileNameA gives for its own address. Built with -fno-gnu-unique
// so that it can really be unloaded.
#include <string>

#include "Platform/ComBase.h"
#include "Platform/Registry.h"
#include "Platform/Win32.h"
#include "TestModule.h"

namespace {

LONG g_locks = 0;  // objects alive, client references to the factory, LockServer

// QueryInterface of an object that answers IUnknown and `own`.
template <class Interface>
HRESULT QueryAs(Interface* self, REFIID riid, const IID& own, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, own)) return E_NOINTERFACE;
  *ppv = self;
  self->AddRef();
  return S_OK;
}

class TestObject final : public IVemTestObject {
 public:
  TestObject() { InterlockedIncrement(&g_locks); }
  ~TestObject() { InterlockedDecrement(&g_locks); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return QueryAs<IVemTestObject>(this, riid, IID_IVemTestObject, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return refs;
  }
  STDMETHODIMP Answer(LONG* plValue) override {
    if (plValue == nullptr) return E_POINTER;
    *plValue = 42;
    return S_OK;
  }

 private:
  LONG m_refs = 0;
};

// One static factory; each client reference holds a module lock.
class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return QueryAs<IClassFactory>(this, riid, IID_IClassFactory, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&g_locks); }
  STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&g_locks); }
  STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new TestObject;
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL fLock) override {
    fLock ? InterlockedIncrement(&g_locks) : InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

Factory g_factory;

std::string ClassKey() {
  char16_t text[39];
  StringFromGUID2(CLSID_VemTestObject, text, 39);
  std::string key = "CLSID\\";
  for (char16_t c : std::u16string(text)) key += static_cast<char>(c);
  return key;
}

// Writes HKEY_CLASSES_ROOT\key's value name (null: the default) = text.
LSTATUS SetText(const std::string& key, const char* name, const std::string& text) {
  HKEY hKey = nullptr;
  LSTATUS rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_WRITE, nullptr, &hKey, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                      static_cast<DWORD>(text.size() + 1));
  RegCloseKey(hKey);
  return rc;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_VemTestObject)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
  return g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  char path[4096];
  const DWORD length = GetModuleFileNameA(
      platform::ModuleOf(reinterpret_cast<const void*>(&DllRegisterServer)), path, sizeof path);
  if (length == 0 || length >= sizeof path) return SELFREG_E_CLASS;
  const std::string classKey = ClassKey();
  const std::string classId = classKey.substr(6);
  const struct {
    std::string key;
    const char* name;
    std::string text;
  } entries[] = {
      {"VemTest.TestObject.1", nullptr, "VemTest TestObject"},
      {"VemTest.TestObject.1\\CLSID", nullptr, classId},
      {"VemTest.TestObject", nullptr, "VemTest TestObject"},
      {"VemTest.TestObject\\CLSID", nullptr, classId},
      {classKey, nullptr, "VemTest TestObject"},
      {classKey + "\\ProgID", nullptr, "VemTest.TestObject.1"},
      {classKey + "\\VersionIndependentProgID", nullptr, "VemTest.TestObject"},
      {classKey + "\\InprocServer32", nullptr, path},
      {classKey + "\\InprocServer32", "ThreadingModel", "Both"},
  };
  for (const auto& entry : entries)
    if (SetText(entry.key, entry.name, entry.text) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  return S_OK;
}
