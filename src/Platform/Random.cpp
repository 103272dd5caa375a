// platform::RandomBytes over getrandom(2), with /dev/urandom for kernels
// that lack the system call.
#include "Platform/Random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

// Reads len bytes from /dev/urandom; false when it cannot be opened or read.
bool ReadDevUrandom(unsigned char* p, std::size_t len) {
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  while (len > 0) {
    const ssize_t got = ::read(fd, p, len);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = false;
      break;
    }
    p += got;
    len -= static_cast<std::size_t>(got);
  }
  ::close(fd);
  return ok;
}

}  // namespace

namespace platform {

void RandomBytes(void* pBuffer, std::size_t len) {
  auto* p = static_cast<unsigned char*>(pBuffer);
  while (len > 0) {
    // getrandom delivers at most 32 MiB per call and may be interrupted by a
    // signal before the pool is seeded; both only shorten the call.
    const ssize_t got = ::getrandom(p, len, 0);
    if (got < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (error == ENOSYS && ReadDevUrandom(p, len)) return;
      throw std::system_error(error, std::generic_category(),
                              "platform::RandomBytes: the kernel's random generator failed");
    }
    p += got;
    len -= static_cast<std::size_t>(got);
  }
}

}  // namespace platform
