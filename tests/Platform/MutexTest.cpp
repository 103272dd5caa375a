// Win32 mutex objects: recursion, ownership, abandonment by threads and
// processes, named sharing across handles and processes, and the life cycle
// of the shared memory behind named mutexes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Win32.h"
#include "Support/ChildProcess.h"
#include "Support/TempDir.h"

namespace {

// A name unique to this test run; `tag` is its plain-character tail, which
// shows up in the shared memory object's name.
struct MutexName {
  std::string name;
  std::string tag;
};

MutexName UniqueName(const std::string& what) {
  static int counter = 0;
  std::string tag = what + "." + std::to_string(getpid()) + "." + std::to_string(++counter);
  return {"vemtest:" + tag, tag};
}

// True when /dev/shm holds a named-mutex object whose name ends with tag.
bool ShmObjectExists(const std::string& tag) {
  DIR* dir = opendir("/dev/shm");
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    found |= name.rfind("vem-mtx-", 0) == 0 && name.size() >= tag.size() &&
             name.compare(name.size() - tag.size(), tag.size(), tag) == 0;
  }
  closedir(dir);
  return found;
}

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = nullptr) : m_h(h) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return m_h; }
  void reset(HANDLE h = nullptr) {
    if (m_h != nullptr) CloseHandle(m_h);
    m_h = h;
  }

 private:
  HANDLE m_h;
};

// Runs fn on a thread of its own and answers its result.
template <class Fn>
auto OnOtherThread(Fn fn) {
  return std::async(std::launch::async, fn).get();
}

// What another thread gets from a wait of 0 ms (releasing what it got).
DWORD TryFromOtherThread(HANDLE h) {
  return OnOtherThread([h] {
    DWORD result = WaitForSingleObject(h, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(h);
    return result;
  });
}

class EveryMutexKind : public testing::TestWithParam<bool> {  // named?
 protected:
  HANDLE NewMutex(BOOL initialOwner = FALSE) {
    return CreateMutexA(nullptr, initialOwner, GetParam() ? UniqueName("m").name.c_str() : nullptr);
  }
};

INSTANTIATE_TEST_SUITE_P(Mutex, EveryMutexKind, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

// The creator with initial ownership waits again recursively; other threads
// time out (a finite wait after its time) until the last release, and a
// release by anyone but the owner fails and changes nothing.
TEST_P(EveryMutexKind, OwnerWaitsRecursivelyAndOthersWaitForTheLastRelease) {
  ScopedHandle h(NewMutex(TRUE));
  ASSERT_NE(h.get(), nullptr);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(WaitForSingleObject(h.get(), INFINITE), WAIT_OBJECT_0);
  auto [result, elapsed] = OnOtherThread([&] {
    const auto start = std::chrono::steady_clock::now();
    const DWORD r = WaitForSingleObject(h.get(), 120);
    return std::pair(r, std::chrono::steady_clock::now() - start);
  });
  EXPECT_EQ(result, WAIT_TIMEOUT);
  EXPECT_GE(elapsed, std::chrono::milliseconds(110));
  auto [released, error] = OnOtherThread([&] {
    const BOOL ok = ReleaseMutex(h.get());
    return std::pair<BOOL, DWORD>(ok, GetLastError());
  });
  EXPECT_FALSE(released);
  EXPECT_EQ(error, ERROR_NOT_OWNER);
  EXPECT_TRUE(ReleaseMutex(h.get()));
  EXPECT_TRUE(ReleaseMutex(h.get()));
  EXPECT_EQ(TryFromOtherThread(h.get()), WAIT_TIMEOUT) << "one acquisition is still held";
  EXPECT_TRUE(ReleaseMutex(h.get()));
  EXPECT_EQ(TryFromOtherThread(h.get()), WAIT_OBJECT_0);
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(h.get())) << "released more often than acquired";
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
}

// The owner thread ends without releasing, once before anyone waits and once
// while the next waiter is (probably) blocked.
TEST_P(EveryMutexKind, AThreadThatEndsHoldingItAbandonsItToTheNextWaiter) {
  for (bool waiterBlocksFirst : {false, true}) {
    SCOPED_TRACE(waiterBlocksFirst ? "waiter blocked first" : "owner gone first");
    ScopedHandle h(NewMutex());
    std::promise<void> acquired;
    std::promise<void> mayEnd;
    std::thread owner([&] {
      EXPECT_EQ(WaitForSingleObject(h.get(), INFINITE), WAIT_OBJECT_0);
      EXPECT_EQ(WaitForSingleObject(h.get(), INFINITE), WAIT_OBJECT_0);  // depth 2
      acquired.set_value();
      mayEnd.get_future().wait();
    });
    acquired.get_future().wait();
    std::thread ender;
    if (!waiterBlocksFirst) {
      mayEnd.set_value();
      owner.join();
    } else {
      ender = std::thread([&] {
        // Not synchronisation: only makes it likely that the wait below has
        // started blocking when the owner ends.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        mayEnd.set_value();
      });
    }
    EXPECT_EQ(WaitForSingleObject(h.get(), INFINITE), WAIT_ABANDONED);
    if (owner.joinable()) owner.join();
    if (ender.joinable()) ender.join();
    EXPECT_EQ(TryFromOtherThread(h.get()), WAIT_TIMEOUT) << "the waiter owns it now";
    EXPECT_TRUE(ReleaseMutex(h.get()));
    EXPECT_FALSE(ReleaseMutex(h.get())) << "the dead owner's depth is not inherited";
    EXPECT_EQ(WaitForSingleObject(h.get(), 0), WAIT_OBJECT_0) << "abandonment is reported once";
    EXPECT_TRUE(ReleaseMutex(h.get()));
  }
}

// Closing the last handle of a mutex that the closing thread owns is legal;
// the thread's later locking and its end still find valid memory (the
// sanitizer build turns a freed mutex into an error here).
TEST_P(EveryMutexKind, ClosingTheLastHandleOfAnOwnedMutexIsSafe) {
  MutexName n = UniqueName("closed-owned");
  const char* name = GetParam() ? n.name.c_str() : nullptr;
  std::thread([&] {
    HANDLE h = CreateMutexA(nullptr, TRUE, name);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(CloseHandle(h));
    HANDLE other = CreateMutexA(nullptr, FALSE, nullptr);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(WaitForSingleObject(other, INFINITE), WAIT_OBJECT_0);
      EXPECT_TRUE(ReleaseMutex(other));
    }
    CloseHandle(other);
  }).join();
  if (GetParam()) {
    EXPECT_FALSE(ShmObjectExists(n.tag));
    ScopedHandle again(CreateMutexA(nullptr, FALSE, name));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the name's mutex ended with its last handle";
    EXPECT_EQ(WaitForSingleObject(again.get(), 0), WAIT_OBJECT_0);
    ReleaseMutex(again.get());
  }
}

// Handles of one name share one mutex and its shared memory, which the last
// close removes; unnamed mutexes (a null or empty name) are each their own.
TEST(Mutex, HandlesOfOneNameShareOneMutexUntilTheLastClose) {
  MutexName n = UniqueName("share");
  ScopedHandle first(CreateMutexA(nullptr, FALSE, n.name.c_str()));
  ASSERT_NE(first.get(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  ScopedHandle second(CreateMutexA(nullptr, TRUE, n.name.c_str()));
  ASSERT_NE(second.get(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(ReleaseMutex(second.get())) << "initial ownership applies only to the creator";

  ASSERT_EQ(WaitForSingleObject(first.get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(TryFromOtherThread(second.get()), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(second.get(), 0), WAIT_OBJECT_0) << "same owner, other handle";
  EXPECT_TRUE(ReleaseMutex(second.get()));
  EXPECT_TRUE(ReleaseMutex(first.get()));
  EXPECT_EQ(TryFromOtherThread(second.get()), WAIT_OBJECT_0);

  first.reset();  // the other handle keeps the mutex alive
  EXPECT_TRUE(ShmObjectExists(n.tag));
  ScopedHandle third(CreateMutexA(nullptr, FALSE, n.name.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  second.reset();
  third.reset();
  EXPECT_FALSE(ShmObjectExists(n.tag));
  third.reset(CreateMutexA(nullptr, FALSE, n.name.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a new mutex of the name starts fresh";

  ScopedHandle a(CreateMutexA(nullptr, TRUE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  ScopedHandle b(CreateMutexA(nullptr, FALSE, ""));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(TryFromOtherThread(a.get()), WAIT_TIMEOUT);
  EXPECT_EQ(TryFromOtherThread(b.get()), WAIT_OBJECT_0);
  ReleaseMutex(a.get());
}

// Names that look alike once reduced to file-name characters, and very long
// names with one tail, stay distinct mutexes.
TEST(Mutex, AnyNameTextNamesItsOwnMutex) {
  const std::string base = UniqueName("names").tag;
  std::vector<ScopedHandle> held(6);
  const std::string names[] = {"Global\\" + base + "/a:b",    "Global\\" + base + "_a_b",
                               "Global\\" + base + "/a/b",    "Global/" + base + "/a:b",
                               std::string(5000, 'x') + base, std::string(5001, 'x') + base};
  for (std::size_t i = 0; i < held.size(); ++i) {
    held[i].reset(CreateMutexA(nullptr, FALSE, names[i].c_str()));
    ASSERT_NE(held[i].get(), nullptr) << i;
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << names[i].substr(0, 60) << " is a new mutex";
  }
}

TEST(Mutex, BadHandlesAreRefused) {
  vemtest::TempDir dir;
  HANDLE file = CreateFileA(dir.File("f").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE closed = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  int local = 0;
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, closed,
                     static_cast<HANDLE>(&local), file}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    if (bad == file) continue;
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_TRUE(CloseHandle(file));
}

// ---- Between processes ------------------------------------------------------------

// Both processes add to a counter in shared memory, read-modify-write under
// the mutex; no increment may be lost (a waiter in one process must be woken
// by a release in the other). The child finds the parent's mutex by name, and
// the shared memory goes with the last handle. (A child that holds the mutex
// keeps the parent out: see the abandonment below.)
TEST(MutexAcrossProcesses, ParentAndChildSerialiseACounter) {
  void* shared =
      mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  auto* counter = static_cast<volatile long*>(shared);
  *counter = 0;
  MutexName n = UniqueName("count");
  constexpr int kRounds = 400;
  auto addUnderLock = [&] {
    HANDLE h = CreateMutexA(nullptr, FALSE, n.name.c_str());
    bool ok = h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    for (int i = 0; ok && i < kRounds; ++i) {
      ok = WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0;
      const long value = *counter;
      sched_yield();  // widen the window another process would need
      *counter = value + 1;
      ok = ok && ReleaseMutex(h);
    }
    CloseHandle(h);
    return ok;
  };
  ScopedHandle keep(CreateMutexA(nullptr, FALSE, n.name.c_str()));
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd&) { return addUnderLock() ? 0 : 2; });
  EXPECT_TRUE(addUnderLock());
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(*counter, 2 * kRounds);
  munmap(shared, sizeof(long));
  keep.reset();
  EXPECT_FALSE(ShmObjectExists(n.tag));
}

TEST(MutexAcrossProcesses, AChildThatEndsHoldingItAbandonsIt) {
  MutexName n = UniqueName("dies");
  ScopedHandle h(CreateMutexA(nullptr, FALSE, n.name.c_str()));
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd& parent) {
    HANDLE mine = CreateMutexA(nullptr, FALSE, n.name.c_str());
    if (mine == nullptr || WaitForSingleObject(mine, INFINITE) != WAIT_OBJECT_0) return 1;
    WaitForSingleObject(mine, INFINITE);  // depth 2
    parent.Send('L');
    parent.Receive();
    return 0;  // _exit without releasing or closing
  });
  ASSERT_EQ(child.channel().Receive(), 'L');
  EXPECT_EQ(WaitForSingleObject(h.get(), 0), WAIT_TIMEOUT);
  child.channel().Send('X');
  // Blocks until the child is gone (or finds it gone).
  EXPECT_EQ(WaitForSingleObject(h.get(), INFINITE), WAIT_ABANDONED);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(ReleaseMutex(h.get()));
  EXPECT_FALSE(ReleaseMutex(h.get()));
  EXPECT_EQ(WaitForSingleObject(h.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(h.get()));
  h.reset();
  EXPECT_FALSE(ShmObjectExists(n.tag)) << "the dead child no longer counts as a user";
}

// The last user of a name ends without closing its handle: a normal exit
// removes the shared memory; a process killed while holding the mutex leaves
// it behind, and the name without live users is then a new mutex.
TEST(MutexAcrossProcesses, ALastUserEndingWithoutClosingLeavesAFreshName) {
  MutexName exits = UniqueName("exits");
  vemtest::ChildProcess normal([&](const vemtest::ChannelEnd&) -> int {
    std::exit(CreateMutexA(nullptr, FALSE, exits.name.c_str()) != nullptr ? 0 : 1);
  });
  ASSERT_EQ(normal.Wait(), 0);
  EXPECT_FALSE(ShmObjectExists(exits.tag));

  MutexName n = UniqueName("killed");
  vemtest::ChildProcess killed([&](const vemtest::ChannelEnd&) {
    HANDLE mine = CreateMutexA(nullptr, TRUE, n.name.c_str());
    return mine != nullptr && GetLastError() == ERROR_SUCCESS ? 0 : 1;  // _exit holding it
  });
  ASSERT_EQ(killed.Wait(), 0);
  EXPECT_TRUE(ShmObjectExists(n.tag)) << "nobody was left to remove it";
  ScopedHandle h(CreateMutexA(nullptr, FALSE, n.name.c_str()));
  ASSERT_NE(h.get(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a name without live users is a new mutex";
  EXPECT_EQ(WaitForSingleObject(h.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(h.get()));
  h.reset();
  EXPECT_FALSE(ShmObjectExists(n.tag));
}

}  // namespace
