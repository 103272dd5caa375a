// The registry: keys and values in a real SQLite file per test, Windows
// answers and error codes, case-insensitive names, deletion, enumeration,
// the file's location, a damaged file, and two processes writing at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "Platform/Registry.h"
#include "RegistryFixture.h"
#include "Support/ChildProcess.h"

namespace {

using vemtest::Key;

class RegistryTest : public ::testing::Test {
 protected:
  // Creates (or opens) HKEY_CURRENT_USER\path.
  void Create(Key& key, const char* path, REGSAM sam = KEY_ALL_ACCESS,
              DWORD expectedDisposition = 0) {
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, sam, nullptr, key.out(),
                              &disposition),
              ERROR_SUCCESS)
        << path;
    if (expectedDisposition != 0) {
      EXPECT_EQ(disposition, expectedDisposition) << path;
    }
  }
  static LSTATUS SetA(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  }
  // The text of a REG_SZ value read through the A call ("<error N>" on failure).
  static std::string GetA(HKEY key, const char* name) {
    char buffer[512];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    const LSTATUS rc =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
    EXPECT_EQ(type, REG_SZ);
    EXPECT_TRUE(size > 0 && buffer[size - 1] == '\0') << "terminated";
    return std::string(buffer, size - 1);
  }
  static std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD cch = sizeof name;
      const LSTATUS rc = RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.emplace_back(name, cch);
    }
    return names;
  }

  vemtest::ScopedRegistry m_registry;
};

TEST_F(RegistryTest, KeysAndValuesRoundTripAcrossTheAAndWCalls) {
  Key created;
  Create(created, "Software\\Vem\\Test", KEY_ALL_ACCESS, REG_CREATED_NEW_KEY);
  Key again;
  Create(again, "Software\\Vem\\Test\\", KEY_ALL_ACCESS, REG_OPENED_EXISTING_KEY);

  ASSERT_EQ(SetA(created.get(), nullptr, "C:/default \xE4\x80"), ERROR_SUCCESS);  // ä and €
  ASSERT_EQ(SetA(created.get(), "Named", "first"), ERROR_SUCCESS);
  ASSERT_EQ(SetA(created.get(), "Named", "second"), ERROR_SUCCESS);  // replaces
  const DWORD number = 0x01020304;
  ASSERT_EQ(RegSetValueExW(created.get(), u"Number", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  // Written without its terminator: read back with one.
  const char16_t wide[] = u"wide\u0141";
  ASSERT_EQ(RegSetValueExW(created.get(), u"Wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide),
                           5 * sizeof(char16_t)),
            ERROR_SUCCESS);

  Key opened;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vem\\Test", 0, KEY_READ, opened.out()),
            ERROR_SUCCESS);
  EXPECT_EQ(GetA(opened.get(), nullptr), "C:/default \xE4\x80");
  EXPECT_EQ(GetA(opened.get(), ""), "C:/default \xE4\x80");
  EXPECT_EQ(GetA(opened.get(), "Named"), "second");
  EXPECT_EQ(GetA(opened.get(), "Wide"), "wideL");  // the best fit of Ł

  char16_t text[32];
  DWORD size = sizeof text;
  DWORD type = 0;
  ASSERT_EQ(
      RegQueryValueExW(opened.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text), u"C:/default \u00E4\u20AC");
  EXPECT_EQ(size, 14 * sizeof(char16_t));
  DWORD read = 0;
  size = sizeof read;
  ASSERT_EQ(RegQueryValueExA(opened.get(), "NUMBER", nullptr, &type, reinterpret_cast<BYTE*>(&read),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(read, number);

  // The size needed is answered without a buffer and with one too small; the
  // wide text counts two bytes a character.
  size = 0;
  EXPECT_EQ(RegQueryValueExA(opened.get(), "Named", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 7u);  // "second" and its terminator
  size = 6;
  EXPECT_EQ(RegQueryValueExA(opened.get(), "Named", nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                             &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(RegQueryValueExW(opened.get(), u"Named", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 14u);

  // Two handles on one key see each other's changes.
  EXPECT_EQ(RegDeleteValueA(created.get(), "Named"), ERROR_SUCCESS);
  EXPECT_EQ(GetA(opened.get(), "Named"), "<error 2>");
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
  Key key;
  Create(key, "Alpha\\Beta\xC4rger");  // Ärger
  ASSERT_EQ(SetA(key.get(), "Mixed", "x"), ERROR_SUCCESS);
  for (const char* spelling : {"ALPHA\\beta\xE4RGER", "alpha\\BETA\xC4rger\\"}) {
    Key other;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, spelling, 0, nullptr, 0, KEY_READ, nullptr,
                              other.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY) << spelling;
    EXPECT_EQ(GetA(other.get(), "mIXED"), "x") << spelling;
  }
  Key alpha;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"aLpHa", 0, KEY_READ, alpha.out()), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(alpha.get()), std::vector<std::string>{"Beta\xC4rger"});
}

TEST_F(RegistryTest, EnumerationIsInNameOrderAndReportsShortBuffers) {
  Key root;
  Create(root, "Enum");
  for (const char* name : {"delta", "Bravo", "alpha", "Charlie"}) {
    Key child;
    ASSERT_EQ(
        RegCreateKeyExA(root.get(), name, 0, nullptr, 0, KEY_READ, nullptr, child.out(), nullptr),
        ERROR_SUCCESS);
  }
  Key grandchild;
  Create(grandchild, "Enum\\alpha\\inner");  // not a child of Enum
  EXPECT_EQ(Subkeys(root.get()), (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));

  char16_t name[8];
  DWORD cch = 7;  // "Charlie" needs 8 with its terminator
  EXPECT_EQ(RegEnumKeyExW(root.get(), 2, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  cch = 8;
  FILETIME time{1, 1};
  char16_t className[4];
  DWORD classCch = 4;
  ASSERT_EQ(RegEnumKeyExW(root.get(), 2, name, &cch, nullptr, className, &classCch, &time),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, cch), u"Charlie");
  EXPECT_EQ(classCch, 0u);
  EXPECT_EQ(time.dwLowDateTime | time.dwHighDateTime, 0u);
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndDeleteTreeTakesEverything) {
  Key tree;
  Create(tree, "Tree\\a\\b\\c");
  ASSERT_EQ(SetA(tree.get(), "deep", "1"), ERROR_SUCCESS);
  Key sibling;
  Create(sibling, "TreeSibling");
  ASSERT_EQ(SetA(sibling.get(), nullptr, "kept"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\a"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "tree\\A\\B\\C"), ERROR_SUCCESS);
  EXPECT_EQ(GetA(tree.get(), "deep"), "<error 1018>");  // the open handle's key is gone
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Tree\\a\\b\\c"), ERROR_FILE_NOT_FOUND);

  Key a;
  Create(a, "Tree\\a");
  ASSERT_EQ(SetA(a.get(), "own", "1"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeA(a.get(), nullptr), ERROR_SUCCESS);  // keeps a, empties it
  EXPECT_EQ(GetA(a.get(), "own"), "<error 2>");
  EXPECT_TRUE(Subkeys(a.get()).empty());

  Create(tree, "Tree\\a\\x\\y");
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"TREE"), ERROR_SUCCESS);
  Key gone;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Tree", 0, KEY_READ, gone.out()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Tree"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetA(sibling.get(), nullptr), "kept");

  // A new key never takes the id of a deleted one: the stale handle stays stale.
  Create(tree, "Tree\\a\\b\\c");
  EXPECT_EQ(GetA(a.get(), "own"), "<error 1018>");
}

TEST_F(RegistryTest, RefusalsAnswerWindowsCodes) {
  Key readOnly;
  Create(readOnly, "Refusals", KEY_READ);
  Key setOnly;
  Create(setOnly, "Refusals", KEY_SET_VALUE);
  Key child;
  Create(child, "Refusals\\Child");
  const BYTE three[3] = {};
  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Refusals", 0, KEY_READ, &closed), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  HKEY out = nullptr;
  struct Case {
    const char* what;
    LSTATUS rc;
    LSTATUS expected;
  };
  const Case cases[] = {
      {"open a missing key",
       RegOpenKeyExA(HKEY_CURRENT_USER, "Refusals\\Missing", 0, KEY_READ, &out),
       ERROR_FILE_NOT_FOUND},
      {"a leading separator", RegOpenKeyExA(HKEY_CURRENT_USER, "\\Refusals", 0, KEY_READ, &out),
       ERROR_BAD_PATHNAME},
      {"an empty part",
       RegCreateKeyExA(HKEY_CURRENT_USER, "Refusals\\\\x", 0, nullptr, 0, KEY_READ, nullptr, &out,
                       nullptr),
       ERROR_BAD_PATHNAME},
      {"a name over 255 characters",
       RegCreateKeyExA(HKEY_CURRENT_USER, std::string(256, 'n').c_str(), 0, nullptr, 0, KEY_READ,
                       nullptr, &out, nullptr),
       ERROR_INVALID_PARAMETER},
      {"create below a read-only handle",
       RegCreateKeyExA(readOnly.get(), "New", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr),
       ERROR_ACCESS_DENIED},
      {"set through a read-only handle", SetA(readOnly.get(), "v", "x"), ERROR_ACCESS_DENIED},
      {"query through a set-only handle",
       RegQueryValueExA(setOnly.get(), "v", nullptr, nullptr, nullptr, nullptr),
       ERROR_ACCESS_DENIED},
      {"delete a tree through a read-only handle", RegDeleteTreeA(readOnly.get(), nullptr),
       ERROR_ACCESS_DENIED},
      {"a missing value",
       RegQueryValueExA(readOnly.get(), "none", nullptr, nullptr, nullptr, nullptr),
       ERROR_FILE_NOT_FOUND},
      {"delete a missing value", RegDeleteValueA(setOnly.get(), "none"), ERROR_FILE_NOT_FOUND},
      {"a DWORD of three bytes", RegSetValueExA(setOnly.get(), "d", 0, REG_DWORD, three, 3),
       ERROR_INVALID_PARAMETER},
      {"data missing", RegSetValueExA(setOnly.get(), "d", 0, REG_BINARY, nullptr, 3),
       ERROR_INVALID_PARAMETER},
      {"a closed handle", SetA(closed, "v", "x"), ERROR_INVALID_HANDLE},
      {"close a closed handle", RegCloseKey(closed), ERROR_INVALID_HANDLE},
      {"a null handle", RegOpenKeyExA(nullptr, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE},
      {"delete a predefined key", RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED},
      {"close a predefined key", RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS},
  };
  for (const Case& c : cases) EXPECT_EQ(c.rc, c.expected) << c.what;
  EXPECT_EQ(out, nullptr);
}

TEST(RegistryLocation, FollowsTheEnvironment) {
  vemtest::ScopedRegistry registry;  // restores VEM_REGISTRY
  const std::string dir = registry.dir().path().string();
  struct Case {
    const char* vemRegistry;
    std::string xdg;
    std::string home;
    std::string expected;
  };
  const Case cases[] = {
      {"/x/reg.db", "/xdg", "/home/u", "/x/reg.db"},
      {nullptr, "/xdg", "/home/u", "/xdg/vem/registry.db"},
      {nullptr, "", "/home/u", "/home/u/.local/share/vem/registry.db"},
      {nullptr, "relative", "/home/u", "/home/u/.local/share/vem/registry.db"},
  };
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";
  for (const Case& c : cases) {
    c.vemRegistry ? setenv("VEM_REGISTRY", c.vemRegistry, 1) : unsetenv("VEM_REGISTRY");
    setenv("XDG_DATA_HOME", c.xdg.c_str(), 1);
    setenv("HOME", c.home.c_str(), 1);
    EXPECT_EQ(platform::RegistryPath(), c.expected);
  }
  // Writing creates the directories; reading a registry that is not there
  // finds nothing and creates nothing.
  unsetenv("VEM_REGISTRY");
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  Key key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, key.out()),
            ERROR_FILE_NOT_FOUND);
  struct stat info {};
  EXPECT_NE(stat((dir + "/vem").c_str(), &info), 0);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, nullptr, 0, KEY_READ, nullptr, key.out(),
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(stat((dir + "/vem/registry.db").c_str(), &info), 0);
  oldXdg ? setenv("XDG_DATA_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_DATA_HOME");
  oldHome ? setenv("HOME", savedHome.c_str(), 1) : unsetenv("HOME");
}

TEST_F(RegistryTest, ADamagedFileIsReportedAndLeftAsItIs) {
  const std::string garbage(4096, 'g');
  std::ofstream(m_registry.path(), std::ios::binary) << garbage;
  Key key;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, nullptr, 0, KEY_READ, nullptr, key.out(),
                            nullptr),
            ERROR_BADDB);
  EXPECT_NE(platform::RegistryFailureText().find(m_registry.path()), std::string::npos)
      << platform::RegistryFailureText();
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, key.out()), ERROR_BADDB);
  std::ifstream in(m_registry.path(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage);
  EXPECT_EQ(RegOpenKeyExA(nullptr, "", 0, KEY_READ, key.out()), ERROR_INVALID_HANDLE);
  EXPECT_EQ(platform::RegistryFailureText(), "") << "cleared by a call the file did not fail";
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kKeysPerProcess = 20;
  auto writer = [](char tag) {
    return [tag](const vemtest::ChannelEnd& parent) {
      if (parent.Receive() != 'g') return 2;
      for (int i = 0; i < kKeysPerProcess; ++i) {
        const std::string path = "Shared\\" + std::string(1, tag) + std::to_string(i);
        if (vemtest::SetClassesText(path, nullptr, path) != ERROR_SUCCESS) return 3;
      }
      return 0;
    };
  };
  vemtest::ChildProcess first(writer('a'));
  vemtest::ChildProcess second(writer('b'));
  first.channel().Send('g');
  second.channel().Send('g');
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);

  Key shared;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Shared", 0, KEY_READ, shared.out()), ERROR_SUCCESS);
  const std::vector<std::string> names = Subkeys(shared.get());
  EXPECT_EQ(names.size(), 2u * kKeysPerProcess);
  for (const std::string& name : names) {
    Key key;
    ASSERT_EQ(RegOpenKeyExA(shared.get(), name.c_str(), 0, KEY_READ, key.out()), ERROR_SUCCESS);
    EXPECT_EQ(GetA(key.get(), nullptr), "Shared\\" + name);
  }
}

}  // namespace
