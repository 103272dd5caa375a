// Last error, thread and process ids, thread-local storage and critical
// sections.
#include <gtest/gtest.h>

#include <future>

#include "Platform/Win32.h"
#include "Support/ChildProcess.h"

namespace {

// Another live thread, and a forked child's process and thread, have ids of
// their own.
TEST(Win32Thread, ThreadAndProcessIdsAreDistinct) {
  const DWORD parentPid = GetCurrentProcessId();
  const DWORD parentTid = GetCurrentThreadId();
  EXPECT_NE(std::async(std::launch::async, GetCurrentThreadId).get(), parentTid);
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd&) {
    return GetCurrentProcessId() != parentPid && GetCurrentThreadId() != parentTid ? 0 : 1;
  });
  EXPECT_EQ(child.Wait(), 0);
}

// A TLS slot, like the last error, holds one value per thread: another
// thread starts with none and its changes stay its own.
TEST(Win32Thread, TlsSlotsAndLastErrorHoldOneValuePerThread) {
  DWORD slot = TlsAlloc();
  ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
  SetLastError(ERROR_DISK_FULL);
  EXPECT_EQ(TlsGetValue(slot), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "an unset slot is no failure";

  int mine = 1;
  int theirs = 2;
  ASSERT_TRUE(TlsSetValue(slot, &mine));
  SetLastError(ERROR_ACCESS_DENIED);
  auto [seenError, seenValue] = std::async(std::launch::async, [&] {
                                  const DWORD error = GetLastError();  // before TlsGetValue sets it
                                  const auto seen = std::pair(error, TlsGetValue(slot));
                                  TlsSetValue(slot, &theirs);
                                  SetLastError(ERROR_DISK_FULL);
                                  return seen;
                                }).get();
  EXPECT_EQ(seenValue, nullptr);
  EXPECT_EQ(seenError, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(TlsGetValue(slot), &mine);

  DWORD second = TlsAlloc();
  EXPECT_NE(second, slot);
  EXPECT_EQ(TlsGetValue(second), nullptr);
  EXPECT_TRUE(TlsFree(second));
  EXPECT_TRUE(TlsFree(slot));
  SetLastError(0);
  EXPECT_FALSE(TlsFree(slot)) << "freed twice";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  for (DWORD bad : {slot, static_cast<DWORD>(TLS_OUT_OF_INDEXES), 100000u}) {
    SetLastError(0);
    EXPECT_EQ(TlsGetValue(bad), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(TlsSetValue(bad, &mine));
  }
}

TEST(CriticalSection, IsRecursiveAndFreedByTheLastLeave) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  auto otherCanEnter = [&] {
    return std::async(std::launch::async,
                      [&] {
                        BOOL entered = TryEnterCriticalSection(&cs);
                        if (entered) LeaveCriticalSection(&cs);
                        return entered;
                      })
        .get();
  };
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs)) << "the owner enters again";
  EXPECT_FALSE(otherCanEnter());
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(otherCanEnter()) << "entered twice, left once";
  LeaveCriticalSection(&cs);
  EXPECT_TRUE(otherCanEnter());
  LeaveCriticalSection(&cs);  // not owned: changes nothing
  EXPECT_TRUE(otherCanEnter());
  DeleteCriticalSection(&cs);
}

}  // namespace
