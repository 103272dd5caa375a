// Directory handles: CreateFileA with FILE_FLAG_BACKUP_SEMANTICS opens a
// directory, FlushFileBuffers on it makes its entries durable; reads and
// writes are refused on it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "Platform/Win32.h"
#include "Support/TempDir.h"

namespace {

HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                     flags, nullptr);
}

TEST(DirectoryFlush, OpensAndFlushesDirectoriesOnlyWhenAsked) {
  vemtest::TempDir dir;
  const std::string root = dir.path().string(), file = dir.File("f.bin");
  std::ofstream(file, std::ios::binary) << "x";
  constexpr DWORD kRw = GENERIC_READ | GENERIC_WRITE;
  struct Case {
    const char* name;
    std::string path;
    DWORD access, disposition, flags;
    DWORD openError;  // ERROR_SUCCESS: opens
    bool flushes;
  } cases[] = {
      {"directory, flag", root, kRw, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS,
       true},
      {"directory, flag, read only", root, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
       ERROR_SUCCESS, false},
      {"directory, no flag", root, kRw, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED,
       false},
      {"directory, flag, open always", root, kRw, OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS,
       ERROR_ACCESS_DENIED, false},
      {"missing directory", root + "/none", kRw, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
       ERROR_FILE_NOT_FOUND, false},
      {"file, flag: a file handle", file, kRw, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
       ERROR_SUCCESS, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE h = Open(c.path, c.access, c.disposition, c.flags);
    if (c.openError != ERROR_SUCCESS) {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.openError);
      continue;
    }
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FlushFileBuffers(h) != FALSE, c.flushes);
    if (!c.flushes) {
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    char buf[4] = {};
    DWORD n = 7;
    if (c.path == root) {  // a directory handle neither reads nor writes
      EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, nullptr));
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
      EXPECT_FALSE(WriteFile(h, buf, sizeof buf, &n, nullptr));
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_TRUE(CloseHandle(h));
  }
}

}  // namespace
