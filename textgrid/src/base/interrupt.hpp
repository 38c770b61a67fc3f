// Waiting on the system that the caller may cut short. A FIFO without a
// writer, a terminal or a full pipe can block a read or write for ever; the
// core waits for them in short slices and between slices asks the caller's
// hook whether to give up (the Python module answers with the interpreter's
// pending signals). The core itself knows nothing of signals or Python.
#pragma once

#include <functional>

#include "base/error.hpp"

namespace textgrid {

// Asked on the thread that called the core, only while a file operation waits
// (at most every kStopSliceMs) or after the system interrupted it: true stops
// the operation, which then fails with os_error(EINTR). Empty: never stop.
using ShouldStop = std::function<bool()>;

// The longest time a wait goes without asking.
inline constexpr int kStopSliceMs = 100;

// Whether `should_stop` is set and asks to stop.
inline bool stop_asked(const ShouldStop& should_stop) {
  return should_stop && should_stop();
}

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT) or has an end or
// error that the next call on it reports. Returns 0 then; EINTR when the
// caller asked to stop; another error number when poll() itself failed.
int wait_ready(int fd, short events, const ShouldStop& should_stop);

// Sleeps one slice (a caller retrying something that cannot be waited on by
// poll, such as opening a FIFO until a reader comes). Returns false when the
// caller asked to stop.
bool sleep_slice(const ShouldStop& should_stop);

}  // namespace textgrid
