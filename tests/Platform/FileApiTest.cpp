// Raw Win32 file handles: creation dispositions and their errors, sharing
// within and between processes, reads and writes, 64-bit seek arithmetic,
// truncation and a full device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Win32.h"
#include "Support/ChildProcess.h"
#include "Support/TempDir.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

TEST(FileApi, CreationDispositionsFollowWindows) {
  struct Case {
    const char* name;
    DWORD disposition;
    bool fileExists;
    bool opens;
    DWORD lastError;
    const char* contentAfter;  // null: the file must not exist
  };
  const Case cases[] = {
      {"CREATE_NEW, absent", CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {"CREATE_NEW, present", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {"CREATE_ALWAYS, absent", CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"CREATE_ALWAYS, present", CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {"OPEN_EXISTING, absent", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"OPEN_EXISTING, present", OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {"OPEN_ALWAYS, absent", OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {"OPEN_ALWAYS, present", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {"TRUNCATE_EXISTING, absent", TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {"TRUNCATE_EXISTING, present", TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vemtest::TempDir dir;
    const std::string path = dir.File("data.bin");
    if (c.fileExists) WriteAll(path, "old");
    SetLastError(12345);
    HANDLE h = Open(path, kReadWrite, 0, c.disposition);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(GetLastError(), c.lastError);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(h));
    }
    if (c.contentAfter == nullptr) {
      EXPECT_FALSE(Exists(path));
    } else {
      EXPECT_EQ(ReadAll(path), c.contentAfter);
    }
  }
}

TEST(FileApi, OpenAlwaysThroughADanglingLinkCreatesItsTarget) {
  for (DWORD disposition : {static_cast<DWORD>(OPEN_ALWAYS), CREATE_ALWAYS}) {
    vemtest::TempDir dir;
    ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
    SetLastError(12345);
    HANDLE h = Open(dir.File("link"), GENERIC_WRITE, 0, disposition);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(WriteFile(h, "t", 1, nullptr, nullptr));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(ReadAll(dir.File("target")), "t");
  }
}

TEST(FileApi, BadPathsAndArgumentsAreRefused) {
  vemtest::TempDir dir;
  const std::string file = dir.File("plain");
  WriteAll(file, "x");
  struct Case {
    std::string path;
    DWORD access;
    DWORD disposition;
    DWORD lastError;
  };
  const Case cases[] = {
      {dir.File("no-such-dir/f"), GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {dir.File("no-such-dir/f"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {dir.File("no-such-dir/f"), GENERIC_WRITE, CREATE_NEW, ERROR_PATH_NOT_FOUND},
      {file + "/below-a-file", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {dir.path().string(), GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {dir.path().string(), GENERIC_WRITE, OPEN_ALWAYS, ERROR_ACCESS_DENIED},
      {"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {file, GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},  // needs write access
      {file, GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
      {file, GENERIC_READ, 6, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " disposition " + std::to_string(c.disposition));
    SetLastError(0);
    EXPECT_EQ(Open(c.path, c.access, kShareAll, c.disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.lastError);
  }
  SetLastError(0);
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReadAll(file), "x") << "a refused TRUNCATE_EXISTING must not truncate";
}

TEST(FileApi, WriteSeekReadTruncateRoundTrip) {
  vemtest::TempDir dir;
  const std::string path = dir.File("round");
  HANDLE h = Open(path, kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);

  std::vector<unsigned char> big(3 * 1024 * 1024 + 17);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7 + i / 251);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
  EXPECT_EQ(written, big.size());
  EXPECT_TRUE(FlushFileBuffers(h));
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(h, &high), big.size());
  EXPECT_EQ(high, 0u);

  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  std::vector<unsigned char> back(big.size() + 100);
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(h, back.data(), static_cast<DWORD>(back.size()), &read, nullptr));
  ASSERT_EQ(read, big.size()) << "reads up to the end of the file";
  back.resize(read);
  EXPECT_EQ(back, big);
  ASSERT_TRUE(ReadFile(h, back.data(), 10, &read, nullptr)) << "at the end: success, 0 bytes";
  EXPECT_EQ(read, 0u);

  // Writing past the end leaves a zero-filled gap; SetEndOfFile cuts.
  EXPECT_EQ(SetFilePointer(h, 10, nullptr, FILE_END), big.size() + 10);
  ASSERT_TRUE(WriteFile(h, "Z", 1, &written, nullptr));
  EXPECT_EQ(GetFileSize(h, nullptr), big.size() + 11);
  EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(ReadAll(path), std::string(big.begin(), big.begin() + 5));

  SetLastError(0);
  EXPECT_FALSE(CloseHandle(h)) << "a closed handle";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(h, back.data(), 1, &read, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // A handle does only what its access allows.
  HANDLE reader = Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  HANDLE writer = Open(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SetEndOfFile(reader));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ReadFile(writer, back.data(), 1, &read, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(reader) && CloseHandle(writer));
  EXPECT_EQ(ReadAll(path), std::string(big.begin(), big.begin() + 5));
}

TEST(FileApi, NoSharingExcludesEveryOtherOpenInThisProcess) {
  vemtest::TempDir dir;
  const std::string path = dir.File("shared");
  WriteAll(path, "keep me");
  // first share mode, second share mode, second open succeeds?
  const struct {
    DWORD first, second;
    bool secondOpens;
  } cases[] = {
      {0, 0, false},
      {0, kShareAll, false},
      {kShareAll, 0, false},
      {kShareAll, kShareAll, true},
      {FILE_SHARE_READ, FILE_SHARE_READ, true},
      {FILE_SHARE_DELETE, kShareAll, false},  // delete sharing alone is no sharing here
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("share " + std::to_string(c.first) + " then " + std::to_string(c.second));
    HANDLE first = Open(path, GENERIC_READ, c.first, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    SetLastError(0);
    HANDLE second = Open(path, GENERIC_READ, c.second, OPEN_EXISTING);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    if (second != INVALID_HANDLE_VALUE) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_TRUE(CloseHandle(first));
    HANDLE after = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(after, INVALID_HANDLE_VALUE) << "closing the handles ends the exclusion";
    CloseHandle(after);
  }
  // A refused CREATE_ALWAYS or TRUNCATE_EXISTING must leave the held file alone.
  HANDLE holder = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
  for (DWORD disposition : {static_cast<DWORD>(CREATE_ALWAYS), TRUNCATE_EXISTING}) {
    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  CloseHandle(holder);
  EXPECT_EQ(ReadAll(path), "keep me");
}

// A no-sharing handle in another process excludes this one until that process
// ends, even killed without closing; this process's handle excludes the next.
TEST(FileApi, NoSharingExcludesOtherProcessesUntilTheyEnd) {
  vemtest::TempDir dir;
  const std::string path = dir.File("xproc");
  WriteAll(path, "data");
  vemtest::ChildProcess holder([&](const vemtest::ChannelEnd& parent) {
    HANDLE h = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
    parent.Send(h != INVALID_HANDLE_VALUE ? 'H' : 'F');
    parent.Receive();
    return 0;  // _exit with the handle open
  });
  ASSERT_EQ(holder.channel().Receive(), 'H');
  SetLastError(0);
  EXPECT_EQ(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  holder.channel().Send('X');
  EXPECT_EQ(holder.Wait(), 0);
  HANDLE mine = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_NE(mine, INVALID_HANDLE_VALUE);
  vemtest::ChildProcess refused([&](const vemtest::ChannelEnd&) {
    HANDLE h = Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
    return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? 0 : 1;
  });
  EXPECT_EQ(refused.Wait(), 0);
  CloseHandle(mine);
}

// Seek arithmetic with 64-bit positions, step by step from the previous
// position, on an empty file that is never written.
TEST(FileApi, SetFilePointerComputesWithTheHighPart) {
  vemtest::TempDir dir;
  HANDLE h = Open(dir.File("seek"), kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  struct Step {
    const char* what;
    LONG low;
    std::optional<LONG> high;  // nullopt: no high part given
    DWORD method;
    DWORD result;
    LONG highAfter;  // when high is given
    DWORD lastError;
  };
  const Step steps[] = {
      {"begin + 4 GiB + 16", 0x10, 1, FILE_BEGIN, 0x10, 1, ERROR_SUCCESS},
      {"back 32 across 4 GiB", -0x20, -1, FILE_CURRENT, 0xFFFFFFF0, 0, ERROR_SUCCESS},
      {"low part 0xFFFFFFFF", 0xF, 0, FILE_CURRENT, 0xFFFFFFFF, 0, ERROR_SUCCESS},
      {"beyond 32 bits without high", 1, std::nullopt, FILE_CURRENT, INVALID_SET_FILE_POINTER, 0,
       ERROR_INVALID_PARAMETER},
      {"position unchanged", 0, 0, FILE_CURRENT, 0xFFFFFFFF, 0, ERROR_SUCCESS},
      {"to 8 GiB + 5", 5, 2, FILE_BEGIN, 5, 2, ERROR_SUCCESS},
      {"negative from current", 0, -3, FILE_CURRENT, INVALID_SET_FILE_POINTER, -3,
       ERROR_NEGATIVE_SEEK},
      {"still at 8 GiB + 5", 0, 0, FILE_CURRENT, 5, 2, ERROR_SUCCESS},
      {"negative low is sign-extended", -5, std::nullopt, FILE_BEGIN, INVALID_SET_FILE_POINTER, 0,
       ERROR_NEGATIVE_SEEK},
      {"end of the empty file", 0, std::nullopt, FILE_END, 0, 0, ERROR_SUCCESS},
      {"before the end", -1, std::nullopt, FILE_END, INVALID_SET_FILE_POINTER, 0,
       ERROR_NEGATIVE_SEEK},
      {"unknown method", 0, std::nullopt, 3, INVALID_SET_FILE_POINTER, 0, ERROR_INVALID_PARAMETER},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    SetLastError(12345);
    LONG high = s.high.value_or(0);
    DWORD result = SetFilePointer(h, s.low, s.high ? &high : nullptr, s.method);
    EXPECT_EQ(result, s.result);
    EXPECT_EQ(GetLastError(), s.lastError);
    if (s.high && s.lastError == ERROR_SUCCESS) {
      EXPECT_EQ(high, s.highAfter);
    }
  }
  DWORD sizeHigh = 7;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 0u) << "seeking writes nothing";
  EXPECT_EQ(sizeHigh, 0u);
  CloseHandle(h);
}

TEST(FileApi, AFullDeviceAnswersDiskFull) {
  HANDLE h = Open("/dev/full", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) GTEST_SKIP() << "/dev/full is not available";
  char data[64] = {};
  DWORD written = 99;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(h, data, sizeof data, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(written, 0u);
  CloseHandle(h);
}

}  // namespace
