// CritSection and Mutex: what the wrappers add to the platform objects (whose
// recursion and exclusion across threads and processes tests/Platform checks):
// abandonment, renaming and the failure of a lock.
#include "Utility/Thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>

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

// Locks `lock` on a thread of its own and holds it until Release (or the
// end of the object), then unlocks.
class LockOnOtherThread {
 public:
  explicit LockOnOtherThread(SyncObj& lock)
      : m_thread([this, &lock] {
          lock.lock();
          m_acquired.set_value();
          m_release.get_future().wait();
          lock.unlock();
        }) {}
  ~LockOnOtherThread() {
    Release();
    m_thread.join();
  }
  bool AcquiredWithin(std::chrono::milliseconds limit) {
    return m_acquiredFuture.wait_for(limit) == std::future_status::ready;
  }
  void Release() {
    if (!std::exchange(m_released, true)) m_release.set_value();
  }

 private:
  std::promise<void> m_acquired, m_release;
  std::future<void> m_acquiredFuture = m_acquired.get_future();
  bool m_released = false;
  std::thread m_thread;
};

// The previous owner thread ends without unlock: lock returns normally and
// the caller owns the mutex (another thread is kept out until it unlocks).
// Named and unnamed mutexes are abandoned alike (tests/Platform).
TEST(Mutex, LockAfterTheOwnerThreadEndedWithoutUnlockSucceeds) {
  Mutex m;
  std::thread([&] { m.lock(); }).join();
  EXPECT_NO_THROW(m.lock());
  LockOnOtherThread other(m);
  EXPECT_FALSE(other.AcquiredWithin(kBlockedFor));
  m.unlock();
  EXPECT_TRUE(other.AcquiredWithin(kGiveUpAfter));
}

// Objects of one name exclude each other until one of them is renamed; a
// renamed object no longer excludes that name's holders.
TEST(Mutex, ObjectsOfOneNameExcludeEachOtherUntilRenamed) {
  const std::string first = UniqueName("first");
  Mutex a;
  Mutex b;
  a.setName(first.c_str());
  b.setName(first.c_str());
  {
    LockOnOtherThread holder(a);
    ASSERT_TRUE(holder.AcquiredWithin(kGiveUpAfter));
    LockOnOtherThread waiter(b);
    EXPECT_FALSE(waiter.AcquiredWithin(kBlockedFor));
    holder.Release();
    EXPECT_TRUE(waiter.AcquiredWithin(kGiveUpAfter));
  }
  b.setName(UniqueName("second").c_str());
  LockOnOtherThread holder(a);
  ASSERT_TRUE(holder.AcquiredWithin(kGiveUpAfter));
  LockOnOtherThread other(b);
  EXPECT_TRUE(other.AcquiredWithin(kGiveUpAfter));
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
    EXPECT_NE(base->location().find("Thread.cpp at Line 500"), std::string::npos)
        << base->location();
  }
  m.unlock();  // result not looked at; must not crash
}

}  // namespace
