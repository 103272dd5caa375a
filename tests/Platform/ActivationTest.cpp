// Activation of in-process servers through a real module (TestModule.cpp)
// that registers itself in a registry file of the test's own: class ids by
// ProgID and back, CoCreateInstance, the failures of unregistered classes
// and unloadable modules, CoFreeUnusedLibraries, and module paths.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "Platform/ComBase.h"
#include "Platform/OleAuto.h"
#include "Platform/Registry.h"
#include "Platform/Win32.h"
#include "RegistryFixture.h"
#include "TestModule.h"

namespace {

// {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}, registered by no one.
constexpr CLSID kUnregistered = {
    0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};
// {11111111-2222-3333-4444-555555555555}, registered per test with a module path.
constexpr CLSID kBroken = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

std::string RealPath(const char* path) {
  char resolved[PATH_MAX];
  return realpath(path, resolved) ? resolved : "";
}

bool ModuleLoaded() {
  void* handle = dlopen(VEM_TEST_MODULE, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

// The description of the thread's error info ("" when there is none).
std::string ErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return "";
  BSTR text = nullptr;
  info->GetDescription(&text);
  info->Release();
  std::string description;
  for (const OLECHAR* p = text; p && *p; ++p) description += static_cast<char>(*p);
  SysFreeString(text);
  return description;
}

class ActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Registered as a setup program would: load the module, call its entry point.
    void* module = dlopen(VEM_TEST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    EXPECT_EQ(registerServer(), S_OK);
    dlclose(module);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ModuleLoaded()) << "every test releases what it created";
  }

  // Registers kBroken with InprocServer32 = path.
  static void RegisterBroken(const std::string& path) {
    OLECHAR text[39];
    StringFromGUID2(kBroken, text, 39);
    std::string key = "CLSID\\";
    for (const OLECHAR* p = text; *p; ++p) key += static_cast<char>(*p);
    ASSERT_EQ(vemtest::SetClassesText(key + "\\InprocServer32", nullptr, path), ERROR_SUCCESS);
  }

  vemtest::ScopedRegistry m_registry;
};

TEST_F(ActivationTest, FailuresAnswerWindowsCodesAndSayWhy) {
  const std::string textFile = m_registry.dir().File("not-a-module.so");
  std::ofstream(textFile) << "not a shared library";
  struct Case {
    std::string modulePath;  // registered for kBroken; "" registers nothing
    DWORD context;
    HRESULT expected;
    std::string mentioned;  // in the error info's description
  };
  const Case cases[] = {
      {"", CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG, "{11111111-2222-3333-4444-555555555555}"},
      {"/no/such/module.so", CLSCTX_ALL, CO_E_DLLNOTFOUND, "/no/such/module.so"},
      {textFile, CLSCTX_INPROC_SERVER, CO_E_DLLNOTFOUND, textFile},
      {VEM_PLATFORM_LIBRARY, CLSCTX_INPROC_SERVER, CO_E_ERRORINDLL, "DllGetClassObject"},
      {VEM_TEST_MODULE, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG, "no in-process server"},
      {VEM_TEST_MODULE, CLSCTX_INPROC_SERVER, CLASS_E_CLASSNOTAVAILABLE,
       ""},  // the module's answer
  };
  for (const Case& c : cases) {
    if (!c.modulePath.empty()) RegisterBroken(c.modulePath);
    SetErrorInfo(0, nullptr);
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(kBroken, nullptr, c.context, IID_IUnknown, &object), c.expected)
        << c.modulePath;
    EXPECT_EQ(object, nullptr);
    EXPECT_NE(ErrorDescription().find(c.mentioned), std::string::npos)
        << c.modulePath << ": " << ErrorDescription();
  }
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kUnregistered, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(CoGetClassObject(kUnregistered, CLSCTX_ALL, nullptr, IID_IUnknown, nullptr), E_POINTER);
  IUnknown* outer = reinterpret_cast<IUnknown*>(&object);  // never called: refused first
  EXPECT_EQ(
      CoCreateInstance(CLSID_VemTestObject, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
      CLASS_E_NOAGGREGATION);

  ASSERT_EQ(vemtest::SetClassesText("Bad.ProgId\\CLSID", nullptr, "{not a class id}"),
            ERROR_SUCCESS);
  CLSID clsid = CLSID_VemTestObject;
  EXPECT_EQ(CLSIDFromProgID(u"Bad.ProgId", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID_NULL);
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.ProgId", &clsid), CO_E_CLASSSTRING);
  OLECHAR unchanged[] = u"unchanged";
  LPOLESTR progId = unchanged;
  EXPECT_EQ(ProgIDFromCLSID(kUnregistered, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
}

// The class is found by either ProgID (and back), its object created through
// the module's factory; CoFreeUnusedLibraries unloads the module only when it
// may go, and the next request loads it again.
TEST_F(ActivationTest, CreatesAndUnloadsOnlyWhatMayGo) {
  CLSID byName = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID(kVemTestVersionIndependentProgId, &byName), S_OK);
  EXPECT_EQ(byName, CLSID_VemTestObject);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_VemTestObject, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), kVemTestProgId);
  CoTaskMemFree(progId);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(byName, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
            S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleLoaded()) << "an object is alive";
  object->Release();
  ASSERT_EQ(CoGetClassObject(CLSID_VemTestObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleLoaded()) << "the factory is held";
  factory->Release();
  CoFreeUnusedLibrariesEx(INFINITE, 0);
  CoFreeUnusedLibrariesEx(60000, 0);
  EXPECT_TRUE(ModuleLoaded()) << "idle, but not for long enough";
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleLoaded());

  // Loaded again on the next request, with fresh state.
  IVemTestObject* testObject = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_VemTestObject, nullptr, CLSCTX_INPROC_SERVER, IID_IVemTestObject,
                             reinterpret_cast<void**>(&testObject)),
            S_OK);
  EXPECT_TRUE(ModuleLoaded());
  LONG answer = 0;
  EXPECT_EQ(testObject->Answer(&answer), S_OK);
  EXPECT_EQ(answer, 42);
  testObject->Release();
}

TEST(ModuleFileName, NamesProgramAndModulesAndCutsShortBuffers) {
  char path[PATH_MAX];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::string(path, length), RealPath("/proc/self/exe"));

  HMODULE platformModule = platform::ModuleOf(reinterpret_cast<const void*>(&CoCreateInstance));
  ASSERT_NE(platformModule, nullptr);
  ASSERT_GT(GetModuleFileNameA(platformModule, path, sizeof path), 0u);
  EXPECT_EQ(std::string(path), RealPath(VEM_PLATFORM_LIBRARY));

  char small[5] = "xxxx";
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetModuleFileNameA(platformModule, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(path).substr(0, 4));

  int local = 0;
  EXPECT_EQ(platform::ModuleOf(&local), nullptr) << "the stack is no module";
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), path, sizeof path), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
