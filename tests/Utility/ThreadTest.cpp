// CritSection and Mutex: recursion, abandonment, named against unnamed
// exclusion between threads and processes, and the failure of a lock.
#include "Utility/Thread.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>

#include "Support/ChildProcess.h"
#include "Support/TempDir.h"
#include "Utility/ExceptionBase.h"

namespace {

using namespace std::chrono_literals;

// How long a lock that should block is watched before it counts as blocked.
// A lock that wrongly succeeds does so long before this.
constexpr auto kBlockedFor = 100ms;
// How long a lock that should succeed may take before the test gives up.
constexpr auto kGiveUpAfter = 10s;

std::string UniqueName(const std::string& what) {
  static int counter = 0;
  return "vemtest:/thread/" + what + "." + std::to_string(getpid()) + "." +
         std::to_string(++counter);
}

// Locks `lock` on a thread of its own, holds it until `release` is set, then
// unlocks. `acquired` becomes ready when the lock is held.
class LockOnOtherThread {
 public:
  explicit LockOnOtherThread(SyncObj& lock)
      : m_thread([this, &lock] {
          lock.lock();
          m_acquired.set_value();
          m_release.get_future().wait();
          lock.unlock();
        }),
        m_acquiredFuture(m_acquired.get_future()) {}
  ~LockOnOtherThread() {
    Release();
    m_thread.join();
  }
  bool AcquiredWithin(std::chrono::milliseconds limit) {
    return m_acquiredFuture.wait_for(limit) == std::future_status::ready;
  }
  void Release() {
    if (!m_released) m_release.set_value();
    m_released = true;
  }

 private:
  std::promise<void> m_acquired;
  std::promise<void> m_release;
  bool m_released = false;
  std::thread m_thread;
  std::future<void> m_acquiredFuture;
};

TEST(CritSection, LockedTwiceByOneThreadNeedsTwoUnlocks) {
  CritSection cs;
  cs.lock();
  cs.lock();  // must not block
  LockOnOtherThread other(cs);
  EXPECT_FALSE(other.AcquiredWithin(kBlockedFor));
  cs.unlock();
  EXPECT_FALSE(other.AcquiredWithin(kBlockedFor)) << "locked twice, unlocked once";
  cs.unlock();
  EXPECT_TRUE(other.AcquiredWithin(kGiveUpAfter));
}

TEST(Mutex, LockedTwiceByOneThreadNeedsTwoUnlocks) {
  Mutex m;
  m.setName(UniqueName("recursive").c_str());
  m.lock();
  m.lock();
  LockOnOtherThread other(m);
  m.unlock();
  EXPECT_FALSE(other.AcquiredWithin(kBlockedFor));
  m.unlock();
  EXPECT_TRUE(other.AcquiredWithin(kGiveUpAfter));
}

// The previous owner thread ends without unlock: lock returns normally and
// the caller owns the mutex (another thread is kept out until it unlocks).
TEST(Mutex, LockAfterTheOwnerThreadEndedWithoutUnlockSucceeds) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named" : "unnamed");
    Mutex m;
    if (named) m.setName(UniqueName("abandoned").c_str());
    std::thread([&] { m.lock(); }).join();
    EXPECT_NO_THROW(m.lock());
    LockOnOtherThread other(m);
    EXPECT_FALSE(other.AcquiredWithin(kBlockedFor));
    m.unlock();
    EXPECT_TRUE(other.AcquiredWithin(kGiveUpAfter));
  }
}

TEST(Mutex, ObjectsOfOneNameExcludeEachOther) {
  const std::string name = UniqueName("shared");
  Mutex a;
  Mutex b;
  a.setName(name.c_str());
  b.setName(name.c_str());
  LockOnOtherThread holder(a);
  ASSERT_TRUE(holder.AcquiredWithin(kGiveUpAfter));
  LockOnOtherThread waiter(b);
  EXPECT_FALSE(waiter.AcquiredWithin(kBlockedFor));
  holder.Release();
  EXPECT_TRUE(waiter.AcquiredWithin(kGiveUpAfter));
}

TEST(Mutex, ObjectsWithoutNamesAreIndependent) {
  Mutex a;
  Mutex b;
  LockOnOtherThread holder(a);
  ASSERT_TRUE(holder.AcquiredWithin(kGiveUpAfter));
  LockOnOtherThread other(b);
  EXPECT_TRUE(other.AcquiredWithin(kGiveUpAfter));
}

TEST(Mutex, SetNameLeavesTheFormerMutex) {
  // An object renamed from a shared name no longer excludes that name's holders.
  const std::string first = UniqueName("first");
  Mutex a;
  Mutex b;
  a.setName(first.c_str());
  b.setName(first.c_str());
  b.setName(UniqueName("second").c_str());
  LockOnOtherThread holder(a);
  ASSERT_TRUE(holder.AcquiredWithin(kGiveUpAfter));
  LockOnOtherThread other(b);
  EXPECT_TRUE(other.AcquiredWithin(kGiveUpAfter));
}

TEST(Mutex, ObjectsOfOneNameExcludeEachOtherAcrossProcesses) {
  const std::string name = UniqueName("xproc");
  Mutex mine;
  mine.setName(name.c_str());
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd& parent) {
    Mutex theirs;
    theirs.setName(name.c_str());
    theirs.lock();
    parent.Send('L');
    parent.Receive();
    theirs.unlock();
    return 0;
  });
  ASSERT_EQ(child.channel().Receive(), 'L');
  {
    LockOnOtherThread waiter(mine);
    EXPECT_FALSE(waiter.AcquiredWithin(kBlockedFor));
    child.channel().Send('U');
    EXPECT_TRUE(waiter.AcquiredWithin(kGiveUpAfter));
  }
  EXPECT_EQ(child.Wait(), 0);
}

// Both processes add to a counter in a file under the named mutex; no
// increment may be lost.
TEST(Mutex, ProcessesSerialiseACounterThroughTheName) {
  vemtest::TempDir dir;
  int fd = open(dir.File("counter").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  std::int64_t value = 0;
  ASSERT_EQ(pwrite(fd, &value, sizeof value, 0), static_cast<ssize_t>(sizeof value));
  const std::string name = UniqueName("counter");
  constexpr int kRounds = 300;
  auto add = [&] {
    Mutex m;
    m.setName(name.c_str());
    for (int i = 0; i < kRounds; ++i) {
      m.lock();
      std::int64_t v = 0;
      bool ok = pread(fd, &v, sizeof v, 0) == static_cast<ssize_t>(sizeof v);
      sched_yield();
      ++v;
      ok = ok && pwrite(fd, &v, sizeof v, 0) == static_cast<ssize_t>(sizeof v);
      m.unlock();
      if (!ok) return false;
    }
    return true;
  };
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd&) { return add() ? 0 : 1; });
  EXPECT_TRUE(add());
  EXPECT_EQ(child.Wait(), 0);
  ASSERT_EQ(pread(fd, &value, sizeof value, 0), static_cast<ssize_t>(sizeof value));
  EXPECT_EQ(value, 2 * kRounds);
  close(fd);
}

// A Mutex whose setName could not create the mutex (here: no descriptor
// left) raises from lock, with the wait's last error as code.
TEST(Mutex, LockWithoutAMutexRaisesExceptionBase) {
  {
    // The same steps once with descriptors to spare: the sanitizers' first
    // look at a type needs a descriptor, which the limit below would deny.
    Mutex warmUp;
    warmUp.setName(UniqueName("warm-up").c_str());
  }
  Mutex m;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  m.setName(UniqueName("failed").c_str());
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  try {
    m.lock();
    FAIL() << "lock succeeded without a mutex";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Mutex::lock");
    auto* base = dynamic_cast<const ExceptionBase*>(&e);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->code(), ERROR_INVALID_HANDLE);
    const std::string& location = base->location();
    EXPECT_EQ(location.rfind("File ", 0), 0u) << location;
    EXPECT_NE(location.find("Thread.cpp at Line 500"), std::string::npos) << location;
  }
  m.unlock();  // result not looked at; must not crash
}

}  // namespace
