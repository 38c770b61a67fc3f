// The process-wide worker pool behind parallel_map: started lazily, never
// shut down, rebuilt in the child after fork(). Ranges of a call are cut by
// recursive halving; a thread that waits for its call runs other pending pieces,
// so nested maps cannot deadlock even with a single worker.
#pragma once

#include <cstddef>
#include <functional>

namespace textgrid {

// The smallest number of elements in a piece of parallel work.
inline constexpr std::size_t PARALLEL_MIN_LEN = 20;

}  // namespace textgrid

namespace textgrid::detail {

// The work of one call over an index range: runs elements [begin, end) in
// order, writing their own output slots. `context` is the call's state.
struct RangeWork {
  void (*run)(void* context, std::size_t begin, std::size_t end);
  void* context;
};

// Runs `work` over [0, count) with pieces of at least PARALLEL_MIN_LEN
// elements; a count below twice that runs on the calling thread. Starts the
// pool if needed. Blocks until every piece is done, then rethrows the first
// exception that an element's work threw. count > 0.
void run_parallel(std::size_t count, RangeWork work);

// How long a caller that waits for the pool and has something to do meanwhile
// (produce_in_order's `while_waiting`) sleeps between two turns of it.
inline constexpr int kWaitSliceMs = 100;

// Queues `helpers` (at most the worker count) elements of `work` for the
// pool's workers, each run as work.run(context, 0, 1), and meanwhile runs
// `own` on the calling thread, which may queue more such elements for the
// call through the function it is given (false when the queue had no room).
// Then blocks until every queued element has ended, and rethrows the first
// exception that `own` or an element threw. An element may start late, after
// `own` is done: `own` must be able to finish without any, and an element
// must never wait for `own` (a worker that waits for the calling thread,
// while that thread waits for the pool on another call, would deadlock).
// With no workers `own` runs alone. Starts the pool if needed.
using AddHelper = std::function<bool()>;
void run_beside(std::size_t helpers, RangeWork work,
                const std::function<void(const AddHelper&)>& own);

// Returns whether this process has started its pool (false again in a child
// after fork(), until its first parallel call).
bool thread_pool_started();

// Returns the worker count of the pool, starting it if needed. The count is
// PLINTH_NUM_THREADS when that holds a positive number at pool start, else
// available_cpus(); less when the system lets fewer threads start (0 when it
// lets none: every call then runs on its calling thread).
std::size_t thread_pool_workers();

}  // namespace textgrid::detail
