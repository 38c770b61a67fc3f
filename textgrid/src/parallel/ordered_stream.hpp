// Work produced on the pool and consumed in order on the calling thread: the
// workers produce elements a bounded distance ahead while the caller consumes
// each in turn, so that the caller's own work on an element (in the Python
// module: building its objects) overlaps the producing of the ones after it.
// When the next element is not ready the caller produces one itself, or
// sleeps until that element is handed over.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "base/cpus.hpp"
#include "parallel/thread_pool.hpp"

namespace textgrid {

// What the caller of produce_in_order holds while it consumes and lets go of
// while it produces or sleeps (the Python module: the interpreter lock).
// Either may be empty.
struct CallerLock {
  std::function<void()> release;
  std::function<void()> acquire;
};

// How many elements each thread may have produced but not yet consumed: the
// bound on what is held at once, and enough for a worker to stay busy while
// the caller consumes.
inline constexpr std::size_t kAheadPerThread = 8;

namespace detail {

template <class R, class Produce, class Consume>
class OrderedStream {
 public:
  OrderedStream(std::size_t count, std::size_t helpers, Produce& produce, Consume& consume,
                const CallerLock& caller_lock, std::atomic<bool>& cancel,
                const std::function<void()>& while_waiting)
      : count_(count),
        window_(kAheadPerThread * (helpers + 1)),
        max_helpers_(helpers),
        produce_(produce),
        consume_(consume),
        caller_lock_(caller_lock),
        cancel_(cancel),
        while_waiting_(while_waiting),
        slots_(window_),
        helpers_(helpers) {}

  // A worker's share: produces the next unclaimed elements while they lie
  // within the window. On a full window it ends, rather than wait for the
  // caller, and the caller queues a helper again once half of it is free.
  void help() {
    std::unique_lock lock(mutex_);
    while (!ended_ && next_claim_ < count_ && next_claim_ - next_consume_ < window_) {
      produce_claimed(lock);
    }
    --helpers_;
  }

  // The caller's share, entered and left with the caller's lock held.
  // `add_helper` queues one more helper.
  void run_caller(const detail::AddHelper& add_helper) {
    add_helper_ = &add_helper;
    for (std::size_t i = 0; i < count_; ++i) {
      std::optional<R> element = take(i);
      if (!element) return;
      bool more = false;
      try {
        more = consume_(i, std::move(*element));
      } catch (...) {
        std::lock_guard lock(mutex_);
        fail(std::current_exception());
        return;
      }
      // Dropped before the next is taken: at most the window is held.
      element.reset();
      if (!more) {
        std::lock_guard lock(mutex_);
        end();
        return;
      }
    }
  }

  void rethrow_failure() const {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  static constexpr std::size_t kNobody = static_cast<std::size_t>(-1);

  void release() const {
    if (caller_lock_.release) caller_lock_.release();
  }
  void acquire() const {
    if (caller_lock_.acquire) caller_lock_.acquire();
  }

  // Requires mutex_. Claims and produces the next element, mutex_ let go
  // meanwhile.
  void produce_claimed(std::unique_lock<std::mutex>& lock) {
    const std::size_t i = next_claim_++;
    lock.unlock();
    try {
      R element = produce_(i);
      lock.lock();
      slots_[i % window_].emplace(std::move(element));
      if (waiting_for_ == i) ready_.notify_one();
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      fail(std::current_exception());
    }
  }

  // Element i, once it is ready (produced by the caller itself if no one has
  // claimed it yet), or nothing when the stream has ended early. Lets go of
  // the caller's lock while it produces or sleeps.
  std::optional<R> take(std::size_t i) {
    std::unique_lock lock(mutex_);
    bool released = false;
    std::optional<R> element;
    while (!ended_) {
      std::optional<R>& slot = slots_[i % window_];
      if (slot) {
        element.emplace(std::move(*slot));
        slot.reset();
        next_consume_ = i + 1;
        // Helpers that ended on a full window come back together once half
        // of it is free, not once per element consumed.
        while (helpers_ < max_helpers_ && next_claim_ < count_ &&
               next_claim_ - next_consume_ <= window_ / 2) {
          ++helpers_;
          if (!(*add_helper_)()) {
            --helpers_;
            break;
          }
        }
        break;
      }
      if (!released) {
        release();
        released = true;
      }
      if (next_claim_ < count_ && next_claim_ - next_consume_ < window_) {
        produce_claimed(lock);
        continue;
      }
      waiting_for_ = i;
      const auto handed = [&] { return ended_ || slots_[i % window_].has_value(); };
      if (!while_waiting_) {
        ready_.wait(lock, handed);
      } else if (!ready_.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs), handed)) {
        lock.unlock();
        acquire();
        try {
          while_waiting_();
        } catch (...) {
          release();
          lock.lock();
          fail(std::current_exception());
          break;
        }
        release();
        lock.lock();
      }
      waiting_for_ = kNobody;
    }
    lock.unlock();
    if (released) acquire();
    return element;
  }

  // Requires mutex_. Keeps the first failure and ends the stream.
  void fail(std::exception_ptr error) {
    if (!error_) error_ = std::move(error);
    end();
  }

  // Requires mutex_. No element is claimed from now on; producers in flight
  // may watch `cancel_` to stop early.
  void end() {
    ended_ = true;
    cancel_.store(true, std::memory_order_relaxed);
    if (waiting_for_ != kNobody) ready_.notify_one();
  }

  const std::size_t count_;
  const std::size_t window_;
  const std::size_t max_helpers_;
  Produce& produce_;
  Consume& consume_;
  const CallerLock& caller_lock_;
  std::atomic<bool>& cancel_;
  const std::function<void()>& while_waiting_;

  std::mutex mutex_;
  std::condition_variable ready_;        // the element the caller waits for, or the end
  std::vector<std::optional<R>> slots_;  // element i in slot i % window_
  std::size_t helpers_;                  // queued or running
  const detail::AddHelper* add_helper_ = nullptr;
  std::size_t next_claim_ = 0;
  std::size_t next_consume_ = 0;
  std::size_t waiting_for_ = kNobody;
  bool ended_ = false;
  std::exception_ptr error_;
};

}  // namespace detail

// Produces elements 0 .. count-1 with `produce(i)` (returning R) and hands
// each to `consume(i, R&&)` (returning whether to go on) on the calling
// thread, in order, each exactly once; R is dropped as soon as its consume
// returns. From the parallel threshold on, all but one of the pool's workers
// produce ahead (the caller stands for the last), at most kAheadPerThread
// elements per thread. The caller holds `caller_lock` while it consumes and
// lets go of it while it produces (any element not claimed yet) or sleeps
// for the next element, calling `while_waiting` (when set, lock held) about
// every kWaitSliceMs of that sleep. Below the threshold, or with fewer than
// two workers, the caller produces and consumes in turn. A consume that
// returns false or throws, or a produce that throws, ends the stream:
// `cancel` is set (producers in flight may watch it), no element is produced
// or consumed after, and once every worker is done the first exception is
// rethrown. Enter and leave with the lock held.
template <class R, class Produce, class Consume>
void produce_in_order(std::size_t count, Produce& produce, Consume& consume,
                      const CallerLock& caller_lock, std::atomic<bool>& cancel,
                      const std::function<void()>& while_waiting = {}) {
  if (count == 0) return;
  // The caller is one of the producers: with as many threads as workers the
  // CPUs are not oversubscribed, and one worker means no helper at all.
  const std::size_t workers = count < parallel_threshold() ? 0 : detail::thread_pool_workers();
  const std::size_t helpers = workers > 0 ? workers - 1 : 0;
  if (helpers == 0) {
    for (std::size_t i = 0; i < count; ++i) {
      if (caller_lock.release) caller_lock.release();
      std::optional<R> element;
      try {
        element.emplace(produce(i));
      } catch (...) {
        cancel.store(true, std::memory_order_relaxed);
        if (caller_lock.acquire) caller_lock.acquire();
        throw;
      }
      if (caller_lock.acquire) caller_lock.acquire();
      bool more = false;
      try {
        more = consume(i, std::move(*element));
      } catch (...) {
        cancel.store(true, std::memory_order_relaxed);
        throw;
      }
      if (!more) {
        cancel.store(true, std::memory_order_relaxed);
        return;
      }
    }
    return;
  }
  using Stream = detail::OrderedStream<R, Produce, Consume>;
  Stream stream(count, helpers, produce, consume, caller_lock, cancel, while_waiting);
  const detail::RangeWork work{
      [](void* raw, std::size_t, std::size_t) { static_cast<Stream*>(raw)->help(); }, &stream};
  // The caller waits for the last helpers with its lock let go, and holds it
  // again on every way out.
  struct Relock {
    const CallerLock& lock;
    bool released = false;
    ~Relock() {
      if (released && lock.acquire) lock.acquire();
    }
  } relock{caller_lock};
  detail::run_beside(helpers, work, [&](const detail::AddHelper& add_helper) {
    stream.run_caller(add_helper);
    if (caller_lock.release) caller_lock.release();
    relock.released = true;
  });
  stream.rethrow_failure();
}

}  // namespace textgrid
