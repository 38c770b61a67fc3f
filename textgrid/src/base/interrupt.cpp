#include "base/interrupt.hpp"

#include <poll.h>
#include <time.h>

#include <cerrno>

namespace textgrid {

int wait_ready(int fd, short events, const ShouldStop& should_stop) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, should_stop ? kStopSliceMs : -1);
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return errno;
    // A slice passed, or a signal came: the caller may want to stop.
    if (stop_asked(should_stop)) return EINTR;
  }
}

bool sleep_slice(const ShouldStop& should_stop) {
  const timespec slice{0, long{kStopSliceMs} * 1'000'000};
  ::nanosleep(&slice, nullptr);  // an interruption only ends the slice early
  return !stop_asked(should_stop);
}

}  // namespace textgrid
