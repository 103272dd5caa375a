// Mutex objects: CreateMutexA, WaitForSingleObject, ReleaseMutex.
//
// Every mutex is a robust pthread mutex (error-checking, so a fault shows as
// an error rather than a hang) beside a small owner record:
//
//   MutexState    the pthread mutex, the owner's token, the owner's process
//                 id and the recursion depth.
//
// Recursion is counted here, not by pthreads: a thread that waits on a mutex
// it owns (its token is the owner token) only deepens the count, and
// ReleaseMutex unlocks the pthread mutex when the count returns to zero. A
// thread token is a random-based 64-bit value unique to one thread of one
// process (kernel thread ids are reused, tokens are not), renewed in the
// child of a fork. When an owner ends without releasing, the kernel marks
// the robust mutex, the next waiter gets EOWNERDEAD, makes it consistent and
// answers WAIT_ABANDONED; it is then the owner with depth 1.
//
// An unnamed mutex keeps its MutexState on the heap (process-private). A
// named one keeps it in a POSIX shared memory segment, shared by every
// process of the machine (see ShmNameFor and NamedSegment below), with
// permissions 0666 so that every user's processes share the name.
//
// One rule protects the robust list that glibc and the kernel keep per
// thread: memory holding a mutex that a thread of this process owns is never
// released (it is linked into that thread's robust list). A mutex whose last
// handle is closed while one of this process's threads still owns it
// therefore stays allocated (or mapped) for the rest of the process.
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Platform/Win32Internal.h"

namespace platform::detail {
namespace {

// ---- Owner record -------------------------------------------------------------

// Layout version of MutexState; a segment with another value is not ours.
constexpr std::uint32_t kStateMagic = 0x564D5801;  // "VMX" 1
constexpr std::uint32_t kMaxDepth = 0x7FFFFFFF;

struct MutexState {
  std::atomic<std::uint32_t> magic;  // kStateMagic once initialised
  std::uint32_t size;                // sizeof(MutexState)
  pthread_mutex_t mutex;             // robust, error-checking
  // Written only by the owner, read by anyone asking "do I own it?":
  std::atomic<std::uint64_t> ownerToken;  // 0 when nobody owns it
  std::atomic<std::int32_t> ownerPid;     // the owner's process, 0 when free
  std::uint32_t depth;                    // owner only: waits not yet released
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free &&
                  std::atomic<std::int32_t>::is_always_lock_free,
              "MutexState is shared between processes and needs address-free atomics");

// ---- Thread tokens ----------------------------------------------------------------

std::atomic<std::uint64_t> g_tokenBase{0};       // random, renewed in a fork child
std::atomic<std::uint64_t> g_tokenSerial{0};     // threads that asked for a token
std::atomic<std::uint32_t> g_forkGeneration{0};  // bumped in every fork child

struct ThreadIdentity {
  std::uint64_t token = 0;
  std::uint32_t generation = 0xFFFFFFFF;  // no token yet
};
thread_local ThreadIdentity t_identity;

std::uint64_t RandomBase() {
  std::uint64_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value)) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    value = (static_cast<std::uint64_t>(now.tv_nsec) << 32) ^
            static_cast<std::uint64_t>(now.tv_sec) ^ (static_cast<std::uint64_t>(getpid()) << 16);
  }
  return value;
}

void RenewTokensInForkChild() {
  g_tokenBase.store(RandomBase());
  g_forkGeneration.fetch_add(1);
}

std::uint64_t ThreadToken() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_tokenBase.store(RandomBase());
    pthread_atfork(nullptr, nullptr, RenewTokensInForkChild);
  });
  const std::uint32_t generation = g_forkGeneration.load(std::memory_order_relaxed);
  if (t_identity.generation != generation) {
    std::uint64_t token;
    do {
      // An odd multiplier keeps the tokens of one process distinct.
      token = g_tokenBase.load() + (g_tokenSerial.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull;
    } while (token == 0);
    t_identity = {token, generation};
  }
  return t_identity.token;
}

// ---- Operations on an owner record ------------------------------------------------

// Initialises the pthread mutex of a value-initialised state. Answers 0 or
// an errno value.
int InitState(MutexState& state, bool processShared) {
  pthread_mutexattr_t attr;
  int rc = pthread_mutexattr_init(&attr);
  if (rc != 0) return rc;
  rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  if (rc == 0) rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (rc == 0 && processShared) rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (rc == 0) rc = pthread_mutex_init(&state.mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) return rc;
  state.size = sizeof(MutexState);
  state.depth = 0;
  state.ownerPid.store(0);
  state.ownerToken.store(0);
  state.magic.store(kStateMagic, std::memory_order_release);
  return 0;
}

// Locks with a time limit in milliseconds (INFINITE: none, 0: only try).
int LockFor(pthread_mutex_t* mutex, DWORD ms) {
  if (ms == INFINITE) return pthread_mutex_lock(mutex);
  if (ms == 0) return pthread_mutex_trylock(mutex);
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
}

DWORD WaitState(MutexState& state, DWORD ms) {
  const std::uint64_t me = ThreadToken();
  if (state.ownerToken.load(std::memory_order_acquire) == me) {
    if (state.depth >= kMaxDepth) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    ++state.depth;
    return WAIT_OBJECT_0;
  }
  int rc = LockFor(&state.mutex, ms);
  bool abandoned = false;
  if (rc == EOWNERDEAD) {
    // The previous owner ended while holding it; the owner record still
    // names it and is overwritten below.
    pthread_mutex_consistent(&state.mutex);
    abandoned = true;
    rc = 0;
  }
  if (rc == 0) {
    state.depth = 1;
    state.ownerPid.store(static_cast<std::int32_t>(getpid()), std::memory_order_relaxed);
    state.ownerToken.store(me, std::memory_order_release);
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
  }
  if (rc == EBUSY || rc == ETIMEDOUT) return WAIT_TIMEOUT;
  SetLastError(ErrorFromErrno(rc));
  return WAIT_FAILED;
}

BOOL ReleaseState(MutexState& state) {
  if (state.ownerToken.load(std::memory_order_acquire) != ThreadToken()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--state.depth == 0) {
    state.ownerToken.store(0, std::memory_order_relaxed);
    state.ownerPid.store(0, std::memory_order_relaxed);
    if (pthread_mutex_unlock(&state.mutex) != 0) {
      SetLastError(ERROR_NOT_OWNER);
      return FALSE;
    }
  }
  return TRUE;
}

// True when a thread of this process owns the mutex (or owned it and ended
// without releasing it, which cannot be told apart here).
bool HeldInThisProcess(const MutexState& state) {
  return state.ownerToken.load() != 0 &&
         state.ownerPid.load() == static_cast<std::int32_t>(getpid());
}

// ---- Mutex implementations ----------------------------------------------------------

class MutexCore {
 public:
  virtual ~MutexCore() = default;
  MutexCore(const MutexCore&) = delete;
  MutexCore& operator=(const MutexCore&) = delete;

  DWORD Wait(DWORD ms) { return WaitState(*m_state, ms); }
  BOOL Release() { return ReleaseState(*m_state); }

 protected:
  MutexCore() = default;
  MutexState* m_state = nullptr;  // owned by the derived class
};

// Unnamed mutexes whose memory must outlive their handles (see the file
// comment). Never destroyed.
struct Graveyard {
  std::mutex lock;
  std::vector<std::unique_ptr<MutexState>> states;  // guarded by lock
};
Graveyard& TheGraveyard() {
  static Graveyard* graveyard = new Graveyard;
  return *graveyard;
}

class UnnamedMutex final : public MutexCore {
 public:
  // Answers null with the last error set on failure.
  static std::shared_ptr<UnnamedMutex> Create(BOOL bInitialOwner) {
    auto storage = std::make_unique<MutexState>();
    if (int rc = InitState(*storage, false); rc != 0) {
      SetLastError(ErrorFromErrno(rc));
      return nullptr;
    }
    std::shared_ptr<UnnamedMutex> mutex(new UnnamedMutex(std::move(storage)));
    if (bInitialOwner) mutex->Wait(0);  // new, so free
    return mutex;
  }

  ~UnnamedMutex() override {
    if (HeldInThisProcess(*m_storage)) {
      std::lock_guard<std::mutex> guard(TheGraveyard().lock);
      TheGraveyard().states.push_back(std::move(m_storage));
      return;
    }
    pthread_mutex_destroy(&m_storage->mutex);
  }

 private:
  explicit UnnamedMutex(std::unique_ptr<MutexState> storage) : m_storage(std::move(storage)) {
    m_state = m_storage.get();
  }

  std::unique_ptr<MutexState> m_storage;
};

// ---- Named mutexes in shared memory -----------------------------------------------------
//
// The segment of a name is one MutexState. Two advisory byte locks on the
// segment (open-file-description locks, released by the kernel when a
// process ends) keep its life cycle safe between processes:
//   byte 0 (kGateByte)  exclusive while one process opens or closes the name;
//   byte 1 (kUserByte)  shared by every open description that uses it.
// Opening under the gate: a segment that nobody else uses (no other lock on
// the user byte) is new or was left by users that ended without closing it,
// and is (re)initialised; otherwise it is mapped as it is. Closing under the
// gate: the last user unlinks the name. A segment unlinked between the
// opener's shm_open and its gate lock has no links left (st_nlink == 0) and
// the opener starts over. A process that is killed as the name's last user
// leaves the segment in /dev/shm until the name is opened again (it is then
// reset) or the machine restarts; a normal exit detaches from every segment
// still open (DetachAllAtExit).

constexpr off_t kGateByte = 0;
constexpr off_t kUserByte = 1;

// Answers 0 or an errno value.
int SetByteLock(int fd, short type, off_t byte, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// True when another open description holds a lock on the byte (also when
// that cannot be told, so that callers err towards keeping the segment).
bool OthersLockByte(int fd, off_t byte) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;
  return fl.l_type != F_UNLCK;
}

// The shared memory name of a mutex name: a hash of the whole name (any
// text is accepted, of any length) and, for people looking at /dev/shm, its
// last characters with everything but letters, digits, '.', '-' and '_'
// replaced by '_'.
std::string ShmNameFor(std::string_view name) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  constexpr std::size_t kTail = 40;
  std::string_view tail = name.size() > kTail ? name.substr(name.size() - kTail) : name;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  std::string shmName = "/vem-mtx-";
  shmName += hex;
  shmName += '-';
  for (char c : tail) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '-' || c == '_';
    shmName += plain ? c : '_';
  }
  return shmName;
}

class NamedSegment final : public MutexCore {
 public:
  // Opens (or creates) the segment of shmName under the gate. created tells
  // whether it was (re)initialised here; bInitialOwner then makes the caller
  // its owner before any other process can reach it. Answers null with the
  // last error set on failure.
  static std::shared_ptr<NamedSegment> Open(const std::string& shmName, BOOL bInitialOwner,
                                            bool& created);

  ~NamedSegment() override;

  // Gives up this process's use of the name: the last user unlinks it. The
  // mapping stays valid until destruction. Runs once.
  void Detach();

  pid_t pid() const { return m_pid; }

 private:
  NamedSegment(std::string shmName, int fd) : m_shmName(std::move(shmName)), m_fd(fd) {}

  const std::string m_shmName;
  const int m_fd;                // the segment; carries the byte locks
  const pid_t m_pid = getpid();  // a fork child inherits this object but not its locks
  void* m_map = nullptr;         // the MutexState mapping (m_state once valid)
  std::mutex m_detachLock;
  bool m_detached = false;  // guarded by m_detachLock
};

std::shared_ptr<NamedSegment> NamedSegment::Open(const std::string& shmName, BOOL bInitialOwner,
                                                 bool& created) {
  const char* name = shmName.c_str();
  for (int attempt = 0; attempt < 100; ++attempt) {
    bool newName = true;
    int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
      newName = false;
      fd = shm_open(name, O_RDWR | O_CLOEXEC, 0);
      if (fd < 0 && errno == ENOENT) continue;  // unlinked meanwhile
    }
    if (fd < 0) {
      SetLastError(ErrorFromErrno(errno));
      return nullptr;
    }
    // From here the segment object owns fd; its destructor runs the close
    // protocol, which is also right for every failure below.
    std::unique_ptr<NamedSegment> owner;
    try {
      owner.reset(new NamedSegment(shmName, fd));
    } catch (...) {
      close(fd);
      throw;
    }
    std::shared_ptr<NamedSegment> segment(std::move(owner));
    if (newName) fchmod(fd, 0666);  // the umask must not narrow the sharing
    if (int rc = SetByteLock(fd, F_WRLCK, kGateByte, true); rc != 0) {
      SetLastError(ErrorFromErrno(rc));
      return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return nullptr;
    }
    if (st.st_nlink == 0) {
      // Its last user unlinked it before we got the gate: nothing to detach.
      segment->m_detached = true;
      continue;
    }
    const bool inUse = OthersLockByte(fd, kUserByte);
    if (!inUse && st.st_size != static_cast<off_t>(sizeof(MutexState)) &&
        ftruncate(fd, sizeof(MutexState)) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return nullptr;
    }
    if (inUse && st.st_size != static_cast<off_t>(sizeof(MutexState))) {
      SetLastError(ERROR_INVALID_HANDLE);  // the name belongs to something else
      return nullptr;
    }
    void* map = mmap(nullptr, sizeof(MutexState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      SetLastError(ErrorFromErrno(errno));
      return nullptr;
    }
    segment->m_map = map;
    if (!inUse) {
      auto* state = new (map) MutexState{};
      if (int rc = InitState(*state, true); rc != 0) {
        SetLastError(ErrorFromErrno(rc));
        return nullptr;
      }
      segment->m_state = state;
      if (bInitialOwner) segment->Wait(0);  // new, and nobody else gets past the gate
      created = true;
    } else {
      auto* state = static_cast<MutexState*>(map);
      if (state->magic.load(std::memory_order_acquire) != kStateMagic ||
          state->size != sizeof(MutexState)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      segment->m_state = state;
      created = false;
    }
    if (int rc = SetByteLock(fd, F_RDLCK, kUserByte, false); rc != 0) {
      SetLastError(ErrorFromErrno(rc));
      return nullptr;
    }
    SetByteLock(fd, F_UNLCK, kGateByte, false);
    return segment;
  }
  SetLastError(ERROR_GEN_FAILURE);  // the name kept vanishing under us
  return nullptr;
}

void NamedSegment::Detach() {
  std::lock_guard<std::mutex> guard(m_detachLock);
  if (m_detached) return;
  m_detached = true;
  // In a fork child the descriptor and its locks belong to the parent too:
  // the parent's use of the name goes on.
  if (m_pid != getpid()) return;
  if (SetByteLock(m_fd, F_WRLCK, kGateByte, true) != 0) return;
  SetByteLock(m_fd, F_UNLCK, kUserByte, false);
  if (!OthersLockByte(m_fd, kUserByte)) shm_unlink(m_shmName.c_str());
  SetByteLock(m_fd, F_UNLCK, kGateByte, false);
}

// The named segments this process has open, by shared memory name. Never
// destroyed. Entries whose segment is gone are swept by the next open.
struct SegmentRegistry {
  std::mutex lock;
  std::unordered_map<std::string, std::weak_ptr<NamedSegment>> byName;  // guarded by lock
};
SegmentRegistry& Registry() {
  static SegmentRegistry* registry = new SegmentRegistry;
  return *registry;
}

NamedSegment::~NamedSegment() {
  Detach();
  if (m_map != nullptr && !(m_state != nullptr && HeldInThisProcess(*m_state)))
    munmap(m_map, sizeof(MutexState));
  close(m_fd);
}

void DetachAllAtExit() {
  std::vector<std::shared_ptr<NamedSegment>> live;
  {
    std::lock_guard<std::mutex> guard(Registry().lock);
    for (auto& [name, weak] : Registry().byName)
      if (auto segment = weak.lock()) live.push_back(std::move(segment));
  }
  for (auto& segment : live) segment->Detach();
  live.clear();  // outside the registry lock: this may destroy segments
}

// Answers the segment of a mutex name, opening it when this process has no
// handle to it yet. existed tells whether the mutex existed before.
//
// Lock order: the registry lock is held while Open waits for the gate of
// the name; nothing that holds a gate waits for the registry lock. No
// segment may be destroyed under the registry lock (its destructor waits
// for the gate, and expired entries are swept here instead).
std::shared_ptr<NamedSegment> OpenNamed(std::string_view name, BOOL bInitialOwner, bool& existed) {
  static std::once_flag atExitOnce;
  std::call_once(atExitOnce, [] { std::atexit(DetachAllAtExit); });
  const std::string shmName = ShmNameFor(name);
  std::shared_ptr<NamedSegment> known;  // released after the registry lock
  std::lock_guard<std::mutex> guard(Registry().lock);
  auto& byName = Registry().byName;
  std::erase_if(byName,
                [&](const auto& item) { return item.first != shmName && item.second.expired(); });
  auto& entry = byName[shmName];
  known = entry.lock();
  if (known && known->pid() == getpid()) {
    existed = true;
    return known;
  }
  // Not open here yet, or only through a segment inherited from the parent
  // of a fork, which this process must not share: open it afresh.
  bool created = false;
  std::shared_ptr<NamedSegment> opened = NamedSegment::Open(shmName, bInitialOwner, created);
  if (!opened) return nullptr;
  entry = opened;
  existed = !created;
  return opened;
}

// ---- Handles -------------------------------------------------------------------------------

class MutexObject final : public KernelObject {
 public:
  explicit MutexObject(std::shared_ptr<MutexCore> core)
      : KernelObject(ObjectKind::Mutex), m_core(std::move(core)) {}
  MutexCore& core() { return *m_core; }

 private:
  std::shared_ptr<MutexCore> m_core;  // shared by the handles of one named mutex
};

}  // namespace
}  // namespace platform::detail

using platform::detail::LookupHandleAs;
using platform::detail::MutexObject;
using platform::detail::ObjectKind;

extern "C" {

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES /*lpMutexAttributes*/, BOOL bInitialOwner,
                    LPCSTR lpName) {
  try {
    std::shared_ptr<platform::detail::MutexCore> core;
    bool existed = false;
    if (lpName == nullptr || *lpName == '\0')
      core = platform::detail::UnnamedMutex::Create(bInitialOwner);
    else
      core = platform::detail::OpenNamed(lpName, bInitialOwner, existed);
    if (!core) return nullptr;
    HANDLE h = platform::detail::InsertHandle(std::make_shared<MutexObject>(std::move(core)));
    if (h == nullptr) return nullptr;
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

// Only mutex handles can be waited on here; any other handle answers
// WAIT_FAILED with ERROR_INVALID_HANDLE.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto mutex = LookupHandleAs<MutexObject>(hHandle, ObjectKind::Mutex);
  if (!mutex) return WAIT_FAILED;
  return mutex->core().Wait(dwMilliseconds);
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto mutex = LookupHandleAs<MutexObject>(hMutex, ObjectKind::Mutex);
  if (!mutex) return FALSE;
  return mutex->core().Release();
}

}  // extern "C"
