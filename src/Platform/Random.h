// Platform stand-in: random bytes from the operating system's cryptographic
// generator (getrandom(2) on Linux), for salts and starting counters.
//
// Thread-safe; keeps no state of its own.
#pragma once

#include <cstddef>

namespace platform {

// Fills len bytes at pBuffer with random bytes. Blocks only until the kernel's
// generator has been seeded once after boot. Raises std::system_error when the
// kernel offers no generator (getrandom missing and /dev/urandom unreadable):
// the caller must not go on with predictable bytes.
void RandomBytes(void* pBuffer, std::size_t len);

}  // namespace platform
