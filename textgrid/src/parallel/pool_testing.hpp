// Hooks into the process-wide pool for the tests and the benchmarks, which
// alone include this header; defined beside the pool, in thread_pool.cpp.
#pragma once

#include <cstddef>

namespace textgrid::detail {

// Stops and joins the current pool (it must be idle) and starts a new one with
// `workers` threads (0: the default count).
void reset_thread_pool_for_testing(std::size_t workers);

// Pools started from now on fail to start any worker after the first
// `starts`, as under a process limit. SIZE_MAX lifts the limit.
void limit_thread_starts_for_testing(std::size_t starts);

// While set, every piece that is run (including a whole list that is run uncut
// on the calling thread) is reported, from the thread that runs it, before its
// elements. nullptr turns it off.
using PieceObserver = void (*)(std::size_t begin, std::size_t end);
void set_piece_observer_for_testing(PieceObserver observer);

}  // namespace textgrid::detail
