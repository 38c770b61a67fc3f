// Only in a module that carries libstdc++ (PLINTH_STATIC_RUNTIME, for wheels).
// libstdc++'s string code links in std::random_device, used or not, and that
// calls arc4random, which the C library has only from 2.36 on. This
// definition (hidden, as all the module does not export) stands in for it, so
// that a wheel built here runs on every system of glibc 2.34 or later. plinth
// itself never calls it.
#ifdef PLINTH_STATIC_RUNTIME

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

extern "C" std::uint32_t arc4random() noexcept {
  std::uint32_t value = 0;
  while (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
    if (errno != EINTR) return static_cast<std::uint32_t>(std::time(nullptr));
  }
  return value;
}

#endif
