// A registry file of its own for one test: VEM_REGISTRY points into a
// temporary directory while the object lives, and keys opened through Key
// are closed on every way out.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "Platform/Registry.h"
#include "Support/TempDir.h"

namespace vemtest {

class ScopedRegistry {
 public:
  ScopedRegistry() : m_path(m_dir.File("registry.db")) {
    if (const char* old = std::getenv("VEM_REGISTRY")) m_previous = old;
    setenv("VEM_REGISTRY", m_path.c_str(), 1);
  }
  ~ScopedRegistry() {
    if (m_previous)
      setenv("VEM_REGISTRY", m_previous->c_str(), 1);
    else
      unsetenv("VEM_REGISTRY");
  }
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;

  const std::string& path() const { return m_path; }
  const TempDir& dir() const { return m_dir; }

 private:
  TempDir m_dir;
  std::string m_path;
  std::optional<std::string> m_previous;
};

// An open registry key, closed when the object goes.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (m_h != nullptr) RegCloseKey(m_h);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return m_h; }
  HKEY* out() { return &m_h; }  // for the Reg calls that open it

 private:
  HKEY m_h = nullptr;
};

// Writes HKEY_CLASSES_ROOT\key's value name (null: the default) as REG_SZ.
inline LSTATUS SetClassesText(const std::string& key, const char* name, const std::string& text) {
  Key k;
  LSTATUS rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                               k.out(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

}  // namespace vemtest
