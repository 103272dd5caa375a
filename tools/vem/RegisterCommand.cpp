// `vem register [--module PATH]`, `vem unregister [--module PATH]`: the
// server in the registry, as a registration tool does it: the server module
// is loaded and its DllRegisterServer (DllUnregisterServer) called, which
// writes (removes) its ProgIDs and its class with the module's full path.
//
// The module: --module, else libVemComServer.so in ../lib beside the tool
// (an installed tool), else the module of the build the tool came from.
// The registry is the platform's ($VEM_REGISTRY, else the user's).
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>

#include "Command.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/Win32.h"
#include "Server.h"

namespace vemtool {

namespace {

namespace fs = std::filesystem;

std::string ModulePath(const std::string& option) {
  std::error_code error;
  if (!option.empty()) return fs::absolute(option, error).lexically_normal().string();
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    // An installed tool finds the installed module at its place relative
    // to the tool's directory.
    const fs::path installed =
        (self.parent_path() / VEM_INSTALLED_MODULE_RELPATH).lexically_normal();
    if (fs::is_regular_file(installed, error)) return installed.string();
  }
  return VEM_SERVER_MODULE_PATH;
}

// The module, loaded for the life of the object.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error))
      throw CommandFailure("no server module " + path + " (name it with --module)");
    m_hModule = LoadLibraryA(path.c_str());
    if (m_hModule == nullptr) throw CommandFailure("cannot load the server module " + path);
  }
  ~LoadedModule() { FreeLibrary(m_hModule); }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  HRESULT Call(const char* szExport, const std::string& path) const {
    using EntryFn = HRESULT (*)();
    auto pfn = reinterpret_cast<EntryFn>(GetProcAddress(m_hModule, szExport));
    if (pfn == nullptr)
      throw CommandFailure(path + " is no server module: it exports no " + szExport);
    return pfn();
  }

 private:
  HMODULE m_hModule = nullptr;
};

// The class id and module path the registry holds for the server's ProgID.
std::string RegisteredClass(std::string& module) {
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(kServerProgId, &clsid))) return {};
  OLECHAR text[40] = {};
  StringFromGUID2(clsid, text, 40);
  const std::string id = platform::WideToUtf8(text);
  HKEY hKey = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + id + "\\InprocServer32").c_str(), 0, KEY_READ,
                    &hKey) == ERROR_SUCCESS) {
    char value[4096] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    if (RegQueryValueExA(hKey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ)
      module = platform::WideToUtf8(platform::AnsiToWide(value));
    RegCloseKey(hKey);
  }
  return id;
}

void RunRegister(const std::string& option, bool bRegister) {
  const std::string path = ModulePath(option);
  const std::string progId = platform::WideToUtf8(kServerProgId);
  const LoadedModule module(path);
  const char* szExport = bRegister ? "DllRegisterServer" : "DllUnregisterServer";
  const HRESULT hr = module.Call(szExport, path);
  if (FAILED(hr)) {
    // The registry's own account names the file and what failed in it.
    const std::string why = platform::RegistryFailureText();
    throw CommandFailure(
        std::string(szExport) + " of " + path + " failed: " +
        (why.empty() ? FailureText(hr) + " in the registry " + platform::RegistryPath() : why));
  }
  if (!bRegister) {
    std::cout << "Unregistered " << progId << " (" << path << ") from " << platform::RegistryPath()
              << "\n";
    return;
  }
  std::string registered;
  const std::string id = RegisteredClass(registered);
  if (id.empty())
    throw CommandFailure(std::string(szExport) + " of " + path + " answered success, but " +
                         progId + " is not in the registry " + platform::RegistryPath());
  std::cout << "Registered " << progId << " (class " << id << ", module " << registered << ") in "
            << platform::RegistryPath() << "\n";
}

}  // namespace

void AddRegisterCommands(CLI::App& app) {
  for (const bool bRegister : {true, false}) {
    auto module = std::make_shared<std::string>();
    CLI::App* pCommand =
        app.add_subcommand(bRegister ? "register" : "unregister",
                           bRegister ? "Register the server (VemComServer.ComVemServer) in the "
                                       "registry ($VEM_REGISTRY, else the user's)"
                                     : "Remove the server's entries from the registry");
    pCommand->add_option("--module", *module,
                         "The server module (libVemComServer.so); by default the one in ../lib "
                         "beside the tool, else the one it was built with");
    pCommand->callback([module, bRegister] { RunRegister(*module, bRegister); });
  }
}

}  // namespace vemtool
