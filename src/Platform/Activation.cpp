// Class ids by name and activation of in-process servers (ComBase.h).
//
// Loaded modules live in one process-wide table guarded by a mutex. A call
// into a module through the runtime (DllGetClassObject) marks the module
// busy for its duration without holding the mutex, so a module may itself
// activate classes meanwhile, and CoFreeUnusedLibraries never unloads a
// module while such a call runs. Modules are loaded with RTLD_NOW (a missing
// symbol fails the load, not a later call) and RTLD_LOCAL.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "Platform/ComBase.h"
#include "Platform/OleAuto.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/Win32.h"

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT (*)();

std::u16string GuidText(REFGUID guid) {
  OLECHAR text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

std::string GuidAnsi(REFGUID guid) {
  return platform::WideToAnsi(GuidText(guid));
}

// Makes text the thread's error info, with the runtime call as its source.
void ReportFailure(const char16_t* source, const std::string& text) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  std::u16string description = platform::AnsiToWide(text);
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetDescription(description.data());
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

// What registry reads answer besides a value.
enum class Lookup { Found, Missing, Failed };

// Reads the default string value of HKEY_CLASSES_ROOT\subKey, as
// Windows-1252 (ansi) or UTF-16 bytes.
Lookup ReadDefault(const std::u16string& subKey, bool ansi, std::string& value) {
  HKEY key = nullptr;
  LSTATUS rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (rc == ERROR_SUCCESS) {
    DWORD type = 0;
    DWORD size = 0;
    rc = ansi ? RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size)
              : RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) rc = ERROR_FILE_NOT_FOUND;
    if (rc == ERROR_SUCCESS) {
      value.assign(size, '\0');
      BYTE* data = reinterpret_cast<BYTE*>(value.data());
      rc = ansi ? RegQueryValueExA(key, nullptr, nullptr, &type, data, &size)
                : RegQueryValueExW(key, nullptr, nullptr, &type, data, &size);
      value.resize(size);
    }
    RegCloseKey(key);
  }
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED) return Lookup::Missing;
  if (rc != ERROR_SUCCESS) return Lookup::Failed;
  const std::size_t unit = ansi ? 1 : 2;  // drop the terminator
  if (value.size() >= unit)
    value.erase(value.size() - unit);
  else
    value.clear();
  return Lookup::Found;
}

std::string RegistryFailure() {
  const std::string text = platform::RegistryFailureText();
  return text.empty() ? "the registry " + platform::RegistryPath() + " cannot be read" : text;
}

struct Module {
  std::string path;  // as registered
  void* handle = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  CanUnloadNowFn canUnloadNow = nullptr;  // null: never unloaded
  int busy = 0;                           // calls into the module running now
  // Since when DllCanUnloadNow has answered S_OK at every asking.
  std::optional<std::chrono::steady_clock::time_point> idleSince;
};

class ModuleTable {
 public:
  // The module at path, loaded if need be and marked busy; on failure an
  // HRESULT and why.
  HRESULT Acquire(const std::string& path, std::shared_ptr<Module>& module, std::string& why) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const std::shared_ptr<Module>& loaded : m_modules)
      if (loaded->path == path) return Busy(loaded, module);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* error = dlerror();
      why = "cannot load the module \"" + path + "\": " + (error ? error : "unknown reason");
      return CO_E_DLLNOTFOUND;
    }
    for (const std::shared_ptr<Module>& loaded : m_modules)
      if (loaded->handle == handle) {  // the same file by another path
        dlclose(handle);
        return Busy(loaded, module);
      }
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    if (getClassObject == nullptr) {
      dlclose(handle);
      why = "the module \"" + path + "\" exports no DllGetClassObject";
      return CO_E_ERRORINDLL;
    }
    auto loaded = std::make_shared<Module>();
    loaded->path = path;
    loaded->handle = handle;
    loaded->getClassObject = getClassObject;
    loaded->canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
    try {
      m_modules.push_back(loaded);
    } catch (const std::bad_alloc&) {
      dlclose(handle);
      throw;
    }
    return Busy(loaded, module);
  }

  void Done(Module& module) {
    std::lock_guard<std::mutex> guard(m_lock);
    --module.busy;
  }

  // Unloads the modules that have answered S_OK for at least delay.
  void FreeUnused(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto now = std::chrono::steady_clock::now();
    auto unloadable = [&](const std::shared_ptr<Module>& m) {
      if (m->busy > 0 || m->canUnloadNow == nullptr) return false;
      if (m->canUnloadNow() != S_OK) {
        m->idleSince.reset();
        return false;
      }
      if (!m->idleSince) m->idleSince = now;
      if (now - *m->idleSince < delay) return false;
      dlclose(m->handle);
      return true;
    };
    m_modules.erase(std::remove_if(m_modules.begin(), m_modules.end(), unloadable),
                    m_modules.end());
  }

 private:
  static HRESULT Busy(const std::shared_ptr<Module>& loaded, std::shared_ptr<Module>& module) {
    ++loaded->busy;
    module = loaded;
    return S_OK;
  }

  std::mutex m_lock;
  std::vector<std::shared_ptr<Module>> m_modules;  // guarded by m_lock
};

// Lives for the whole process: modules stay loaded until exit.
ModuleTable& Modules() {
  static ModuleTable* table = new ModuleTable;
  return *table;
}

HRESULT GetClassObject(REFCLSID rclsid, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  const std::u16string subKey = u"CLSID\\" + GuidText(rclsid) + u"\\InprocServer32";
  const std::string where =
      "class " + GuidAnsi(rclsid) + " in the registry " + platform::RegistryPath();
  std::string path;
  const Lookup found =
      (dwClsContext & CLSCTX_INPROC_SERVER) ? ReadDefault(subKey, true, path) : Lookup::Missing;
  if (found == Lookup::Failed) {
    ReportFailure(u"CoGetClassObject", RegistryFailure());
    return REGDB_E_READREGDB;
  }
  if (found == Lookup::Missing) {
    ReportFailure(u"CoGetClassObject", "no in-process server registered for " + where);
    return REGDB_E_CLASSNOTREG;
  }
  if (path.empty()) {
    ReportFailure(u"CoGetClassObject", "an empty module path is registered for " + where);
    return CO_E_DLLNOTFOUND;
  }
  std::shared_ptr<Module> module;
  std::string why;
  if (HRESULT hr = Modules().Acquire(path, module, why); FAILED(hr)) {
    ReportFailure(u"CoGetClassObject", why + " (" + where + ")");
    return hr;
  }
  const HRESULT hr = module->getClassObject(rclsid, riid, ppv);
  Modules().Done(*module);
  return hr;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  *pclsid = GUID_NULL;
  if (lpszProgID == nullptr || *lpszProgID == u'\0') return E_INVALIDARG;
  try {
    std::string bytes;
    switch (ReadDefault(std::u16string(lpszProgID) + u"\\CLSID", false, bytes)) {
      case Lookup::Failed:
        return REGDB_E_READREGDB;
      case Lookup::Missing:
        return CO_E_CLASSSTRING;
      case Lookup::Found:
        break;
    }
    std::u16string text(bytes.size() / 2, u'\0');
    std::copy_n(bytes.data(), text.size() * 2, reinterpret_cast<char*>(text.data()));
    return CLSIDFromString(text.c_str(), pclsid);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (lplpszProgID == nullptr) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  try {
    std::string bytes;
    switch (ReadDefault(u"CLSID\\" + GuidText(clsid) + u"\\ProgID", false, bytes)) {
      case Lookup::Failed:
        return REGDB_E_READREGDB;
      case Lookup::Missing:
        return REGDB_E_CLASSNOTREG;
      case Lookup::Found:
        break;
    }
    if (bytes.empty()) return REGDB_E_CLASSNOTREG;
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes.size() + sizeof(OLECHAR)));
    if (text == nullptr) return E_OUTOFMEMORY;
    std::copy_n(bytes.data(), bytes.size(), reinterpret_cast<char*>(text));
    text[bytes.size() / 2] = u'\0';
    *lplpszProgID = text;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* /*pvServerInfo*/,
                         REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  try {
    return GetClassObject(rclsid, dwClsContext, riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<LPVOID*>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  Modules().FreeUnused(std::chrono::milliseconds(0));
}

void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD /*dwReserved*/) {
  constexpr DWORD kDefaultDelayMs = 10 * 60 * 1000;  // as Windows: ten minutes
  Modules().FreeUnused(
      std::chrono::milliseconds(dwUnloadDelay == INFINITE ? kDefaultDelayMs : dwUnloadDelay));
}
