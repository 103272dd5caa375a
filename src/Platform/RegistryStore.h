// Platform-internal: the registry file (Registry.h) as SQLite tables.
//
// Layout (user_version 1):
//   keys(id, parent, name, fold)  one row per key; the three predefined keys
//                                 are ids 1..3 with parent 0; ids are never
//                                 reused (AUTOINCREMENT), so a handle to a
//                                 deleted key never reaches a newer one
//   key_values(key, name, fold, type, data)
//                                 the values of a key; data holds the bytes,
//                                 strings as UTF-16
// `fold` is the name in upper case (UTF-8): the unique index on
// (parent, fold) and the key (key, fold) make names case-insensitive while
// `name` keeps the case as written.
//
// One RegistryStore is one connection and one transaction: it begins in the
// constructor, Commit() ends it, and the destructor rolls back whatever was
// not committed. Failures of the file throw RegistryError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/WinTypes.h"

struct sqlite3;

namespace platform::detail {

// A failure of the registry file: a Win32 code and what failed, where.
struct RegistryError {
  DWORD code;
  std::string text;
};

using KeyId = std::int64_t;

inline constexpr KeyId kClassesRootId = 1;
inline constexpr KeyId kCurrentUserId = 2;
inline constexpr KeyId kLocalMachineId = 3;

struct StoredValue {
  DWORD type = 0;
  std::string data;  // the bytes as stored
};

class RegistryStore {
 public:
  // Opens the file at path. For writing the file (and its directory) is
  // created when missing and the transaction holds the write lock from the
  // start; for reading a missing file is an empty registry.
  RegistryStore(std::string path, bool write);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  void Commit();

  bool KeyExists(KeyId id);
  // The child of parent named name (any case), if there is one.
  std::optional<KeyId> FindChild(KeyId parent, std::u16string_view name);
  KeyId CreateChild(KeyId parent, std::u16string_view name);
  bool HasChildren(KeyId id);
  // The name of the index-th child in case-insensitive order.
  std::optional<std::u16string> NthChild(KeyId parent, DWORD index);
  // Deletes the key with its values (it must have no children).
  void DeleteKey(KeyId id);
  // Deletes every key below id with their values, and id's own values.
  void DeleteBelow(KeyId id);

  std::optional<StoredValue> GetValue(KeyId key, std::u16string_view name);
  void SetValue(KeyId key, std::u16string_view name, const StoredValue& value);
  bool DeleteValue(KeyId key, std::u16string_view name);  // false: there was none

 private:
  class Statement;
  [[noreturn]] void Fail(const char* what, int rc) const;
  void Exec(const char* sql, const char* what);

  std::string m_path;
  sqlite3* m_db = nullptr;  // null: the file does not exist (reading only)
  bool m_inTransaction = false;
};

// The case-insensitive form of a key or value name.
std::string FoldName(std::u16string_view name);

}  // namespace platform::detail
