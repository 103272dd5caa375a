// The registry calls (Registry.h) over the registry file (RegistryStore.h).
//
// An HKEY opened by RegCreateKeyEx or RegOpenKeyEx is a key into this
// process's table of open keys, like the HANDLE table: values are never
// reused, so a closed handle is always recognised. An open key remembers the
// file it was opened in, the key's id there and the access it was opened
// with; a key deleted while open answers ERROR_KEY_DELETED. The predefined
// keys are not in the table: they name the roots of the file that
// RegistryPath() names at the time of each call.
#include "Platform/Registry.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

#include "Platform/RegistryStore.h"
#include "Platform/Text.h"
#include "Platform/Win32.h"

using platform::detail::KeyId;
using platform::detail::RegistryError;
using platform::detail::RegistryStore;
using platform::detail::StoredValue;

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;

thread_local std::string t_failureText;

struct OpenKey {
  std::string path;  // the registry file
  KeyId id = 0;
  REGSAM access = 0;
};

class KeyTable {
 public:
  HKEY Insert(OpenKey key) {
    std::lock_guard<std::mutex> guard(m_lock);
    const std::uintptr_t value = ++m_lastId << 2;
    m_keys.emplace(value, std::move(key));
    return reinterpret_cast<HKEY>(value);
  }
  std::optional<OpenKey> Find(HKEY h) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_keys.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == m_keys.end()) return std::nullopt;
    return it->second;
  }
  bool Remove(HKEY h) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_keys.erase(reinterpret_cast<std::uintptr_t>(h)) > 0;
  }

 private:
  std::mutex m_lock;
  // Guarded by m_lock:
  std::uintptr_t m_lastId = 0;
  std::unordered_map<std::uintptr_t, OpenKey> m_keys;
};

// Lives for the whole process, so that keys closed at exit still find it.
KeyTable& Keys() {
  static KeyTable* table = new KeyTable;
  return *table;
}

// An ordinary failure of a call (bad handle, no such key, access): a code
// without a failure of the file.
struct CallError {
  DWORD code;
};

std::optional<KeyId> PredefinedId(HKEY h) {
  if (h == HKEY_CLASSES_ROOT) return platform::detail::kClassesRootId;
  if (h == HKEY_CURRENT_USER) return platform::detail::kCurrentUserId;
  if (h == HKEY_LOCAL_MACHINE) return platform::detail::kLocalMachineId;
  return std::nullopt;
}

OpenKey Resolve(HKEY h) {
  if (std::optional<KeyId> root = PredefinedId(h))
    return OpenKey{platform::RegistryPath(), *root, KEY_ALL_ACCESS | DELETE};
  std::optional<OpenKey> key = Keys().Find(h);
  if (!key) throw CallError{ERROR_INVALID_HANDLE};
  return *key;
}

void Require(const OpenKey& key, REGSAM rights) {
  if ((key.access & rights) != rights) throw CallError{ERROR_ACCESS_DENIED};
}

void RequireExists(RegistryStore& store, const OpenKey& key) {
  if (!store.KeyExists(key.id)) throw CallError{ERROR_KEY_DELETED};
}

// The parts of a subkey path; a trailing "\" is allowed.
std::vector<std::u16string_view> SplitPath(std::optional<std::u16string_view> path) {
  std::vector<std::u16string_view> parts;
  if (!path || path->empty()) return parts;
  std::u16string_view rest = *path;
  while (!rest.empty()) {
    const std::size_t end = rest.find(u'\\');
    const std::u16string_view part = rest.substr(0, end);
    if (part.empty()) throw CallError{ERROR_BAD_PATHNAME};
    if (part.size() > kMaxKeyNameLength) throw CallError{ERROR_INVALID_PARAMETER};
    parts.push_back(part);
    if (end == std::u16string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return parts;
}

// Walks from key down the parts; nullopt when one is missing.
std::optional<KeyId> Walk(RegistryStore& store, KeyId key,
                          const std::vector<std::u16string_view>& parts) {
  for (std::u16string_view part : parts) {
    std::optional<KeyId> child = store.FindChild(key, part);
    if (!child) return std::nullopt;
    key = *child;
  }
  return key;
}

// Runs body as one registry call: failures become their codes, a failure of
// the file also the thread's failure text.
LSTATUS Call(const std::function<void()>& body) {
  t_failureText.clear();
  try {
    body();
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  } catch (const CallError& e) {
    return static_cast<LSTATUS>(e.code);
  } catch (const RegistryError& e) {
    t_failureText = e.text;
    return static_cast<LSTATUS>(e.code);
  } catch (const std::bad_alloc&) {
    return static_cast<LSTATUS>(ERROR_NOT_ENOUGH_MEMORY);
  }
}

// Names and text of the A calls, as UTF-16; null stays null.
std::optional<std::u16string> FromAnsi(LPCSTR text) {
  if (text == nullptr) return std::nullopt;
  return platform::AnsiToWide(text);
}
std::optional<std::u16string_view> View(LPCWSTR text) {
  if (text == nullptr) return std::nullopt;
  return std::u16string_view(text);
}
std::optional<std::u16string_view> View(const std::optional<std::u16string>& text) {
  if (!text) return std::nullopt;
  return std::u16string_view(*text);
}

bool IsString(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The stored form of a string value given as UTF-16 units: a single string
// ends at its first NUL, a multi-string keeps its inner NULs; both get their
// terminator(s) whether the writer gave them or not.
std::string StoredString(DWORD type, std::u16string units) {
  if (type == REG_MULTI_SZ) {
    while (!units.empty() && units.back() == u'\0') units.pop_back();
    units.append(2, u'\0');
  } else {
    units.resize(std::min(units.size(), units.find(u'\0')));
    units.push_back(u'\0');
  }
  return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

std::u16string Units(const std::string& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);
  return units;
}

// ---- The calls, on UTF-16 names --------------------------------------------

LSTATUS CreateKey(HKEY hKey, std::optional<std::u16string_view> subKey, REGSAM samDesired,
                  PHKEY phkResult, DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Call([&] {
    const OpenKey parent = Resolve(hKey);
    const std::vector<std::u16string_view> parts = SplitPath(subKey);
    RegistryStore store(parent.path, true);
    RequireExists(store, parent);
    KeyId id = parent.id;
    bool created = false;
    for (std::u16string_view part : parts) {
      std::optional<KeyId> child = store.FindChild(id, part);
      if (!child) {
        Require(parent, KEY_CREATE_SUB_KEY);
        child = store.CreateChild(id, part);
        created = true;
      }
      id = *child;
    }
    store.Commit();
    *phkResult = Keys().Insert(OpenKey{parent.path, id, samDesired});
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  });
}

LSTATUS OpenKeyAt(HKEY hKey, std::optional<std::u16string_view> subKey, REGSAM samDesired,
                  PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Call([&] {
    const OpenKey parent = Resolve(hKey);
    const std::vector<std::u16string_view> parts = SplitPath(subKey);
    RegistryStore store(parent.path, false);
    RequireExists(store, parent);
    std::optional<KeyId> id = Walk(store, parent.id, parts);
    if (!id) throw CallError{ERROR_FILE_NOT_FOUND};
    *phkResult = Keys().Insert(OpenKey{parent.path, *id, samDesired});
  });
}

LSTATUS SetValue(HKEY hKey, std::optional<std::u16string_view> name, DWORD type, std::string data) {
  return Call([&] {
    const OpenKey key = Resolve(hKey);
    Require(key, KEY_SET_VALUE);
    if ((type == REG_DWORD && data.size() != 4) || (type == REG_QWORD && data.size() != 8))
      throw CallError{ERROR_INVALID_PARAMETER};
    if (IsString(type)) data = StoredString(type, Units(data));
    RegistryStore store(key.path, true);
    RequireExists(store, key);
    store.SetValue(key.id, name.value_or(u""), StoredValue{type, std::move(data)});
    store.Commit();
  });
}

// Reads a value; ansi converts string values to Windows-1252.
LSTATUS QueryValue(HKEY hKey, std::optional<std::u16string_view> name, DWORD* lpType, BYTE* lpData,
                   DWORD* lpcbData, bool ansi) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  return Call([&] {
    const OpenKey key = Resolve(hKey);
    Require(key, KEY_QUERY_VALUE);
    std::optional<StoredValue> value;
    {
      RegistryStore store(key.path, false);
      RequireExists(store, key);
      value = store.GetValue(key.id, name.value_or(u""));
    }
    if (!value) throw CallError{ERROR_FILE_NOT_FOUND};
    if (ansi && IsString(value->type)) value->data = platform::WideToAnsi(Units(value->data));
    if (lpType) *lpType = value->type;
    if (lpcbData == nullptr) return;
    const DWORD size = static_cast<DWORD>(value->data.size());
    const DWORD room = *lpcbData;
    *lpcbData = size;
    if (lpData == nullptr) return;
    if (room < size) throw CallError{ERROR_MORE_DATA};
    std::memcpy(lpData, value->data.data(), size);
  });
}

LSTATUS DeleteValue(HKEY hKey, std::optional<std::u16string_view> name) {
  return Call([&] {
    const OpenKey key = Resolve(hKey);
    Require(key, KEY_SET_VALUE);
    RegistryStore store(key.path, true);
    RequireExists(store, key);
    if (!store.DeleteValue(key.id, name.value_or(u""))) throw CallError{ERROR_FILE_NOT_FOUND};
    store.Commit();
  });
}

LSTATUS DeleteKey(HKEY hKey, std::optional<std::u16string_view> subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return Call([&] {
    const OpenKey parent = Resolve(hKey);
    const std::vector<std::u16string_view> parts = SplitPath(subKey);
    if (parts.empty() && PredefinedId(hKey)) throw CallError{ERROR_ACCESS_DENIED};
    RegistryStore store(parent.path, true);
    RequireExists(store, parent);
    std::optional<KeyId> id = Walk(store, parent.id, parts);
    if (!id) throw CallError{ERROR_FILE_NOT_FOUND};
    if (store.HasChildren(*id)) throw CallError{ERROR_ACCESS_DENIED};
    store.DeleteKey(*id);
    store.Commit();
  });
}

LSTATUS DeleteTree(HKEY hKey, std::optional<std::u16string_view> subKey) {
  return Call([&] {
    const OpenKey parent = Resolve(hKey);
    Require(parent, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
    const std::vector<std::u16string_view> parts = SplitPath(subKey);
    RegistryStore store(parent.path, true);
    RequireExists(store, parent);
    std::optional<KeyId> id = Walk(store, parent.id, parts);
    if (!id) throw CallError{ERROR_FILE_NOT_FOUND};
    store.DeleteBelow(*id);
    if (!parts.empty()) store.DeleteKey(*id);
    store.Commit();
  });
}

// Copies text and its terminator into a buffer of *cch characters.
template <class Char>
void PutName(const std::basic_string<Char>& text, Char* buffer, DWORD* cch) {
  if (text.size() + 1 > *cch) throw CallError{ERROR_MORE_DATA};
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
  *cch = static_cast<DWORD>(text.size());
}

template <class Char>
LSTATUS EnumKey(HKEY hKey, DWORD dwIndex, Char* lpName, DWORD* lpcchName, Char* lpClass,
                DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  return Call([&] {
    const OpenKey key = Resolve(hKey);
    Require(key, KEY_ENUMERATE_SUB_KEYS);
    std::optional<std::u16string> name;
    {
      RegistryStore store(key.path, false);
      RequireExists(store, key);
      name = store.NthChild(key.id, dwIndex);
    }
    if (!name) throw CallError{ERROR_NO_MORE_ITEMS};
    if constexpr (sizeof(Char) == 1)
      PutName(platform::WideToAnsi(*name), lpName, lpcchName);
    else
      PutName(*name, lpName, lpcchName);
    if (lpClass != nullptr && lpcchClass != nullptr)
      PutName(std::basic_string<Char>(), lpClass, lpcchClass);
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
  });
}

// Runs an A call's conversions and the call; a conversion that runs out of
// memory answers ERROR_NOT_ENOUGH_MEMORY.
LSTATUS Ansi(const std::function<LSTATUS()>& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::string Bytes(const BYTE* data, DWORD size) {
  return data == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace

namespace platform {

std::string RegistryPath() {
  if (const char* path = std::getenv("VEM_REGISTRY"); path != nullptr && *path != '\0') return path;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
    return std::string(data) + "/vem/registry.db";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : ".") +
         "/.local/share/vem/registry.db";
}

std::string RegistryFailureText() {
  return t_failureText;
}

}  // namespace platform

extern "C" {

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                        SECURITY_ATTRIBUTES*, PHKEY phkResult, DWORD* lpdwDisposition) {
  return Ansi([&] {
    return CreateKey(hKey, View(FromAnsi(lpSubKey)), samDesired, phkResult, lpdwDisposition);
  });
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        SECURITY_ATTRIBUTES*, PHKEY phkResult, DWORD* lpdwDisposition) {
  return CreateKey(hKey, View(lpSubKey), samDesired, phkResult, lpdwDisposition);
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return Ansi([&] { return OpenKeyAt(hKey, View(FromAnsi(lpSubKey)), samDesired, phkResult); });
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return OpenKeyAt(hKey, View(lpSubKey), samDesired, phkResult);
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (PredefinedId(hKey)) return ERROR_SUCCESS;
  return Keys().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  return Ansi([&] {
    std::string data = Bytes(lpData, cbData);
    if (IsString(dwType)) {
      const std::u16string units = platform::AnsiToWide(data);
      data.assign(reinterpret_cast<const char*>(units.data()), units.size() * 2);
    }
    return SetValue(hKey, View(FromAnsi(lpValueName)), dwType, std::move(data));
  });
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  return Ansi([&] { return SetValue(hKey, View(lpValueName), dwType, Bytes(lpData, cbData)); });
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD*, DWORD* lpType, BYTE* lpData,
                         DWORD* lpcbData) {
  return Ansi([&] {
    return QueryValue(hKey, View(FromAnsi(lpValueName)), lpType, lpData, lpcbData, true);
  });
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD*, DWORD* lpType, BYTE* lpData,
                         DWORD* lpcbData) {
  return QueryValue(hKey, View(lpValueName), lpType, lpData, lpcbData, false);
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return Ansi([&] { return DeleteValue(hKey, View(FromAnsi(lpValueName))); });
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return DeleteValue(hKey, View(lpValueName));
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return Ansi([&] { return DeleteKey(hKey, View(FromAnsi(lpSubKey))); });
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  return DeleteKey(hKey, View(lpSubKey));
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return Ansi([&] { return DeleteTree(hKey, View(FromAnsi(lpSubKey))); });
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  return DeleteTree(hKey, View(lpSubKey));
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD*,
                      LPSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  return EnumKey(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime);
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD*,
                      LPWSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  return EnumKey(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime);
}

}  // extern "C"
