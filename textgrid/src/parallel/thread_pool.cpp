#include "parallel/thread_pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/cpus.hpp"
#include "parallel/pool_testing.hpp"

namespace textgrid::detail {

namespace {

// One call of run_parallel: lives on the caller's stack until every element
// is accounted for.
struct Job {
  Job(RangeWork w, std::size_t count) : work(w), remaining(count) {}

  RangeWork work;
  std::size_t remaining;  // elements not yet done (or skipped); under the pool's mutex
  std::atomic<bool> failed{false};
  std::exception_ptr error;  // written once, by the first piece that threw
  // Who waits for the job, so that its end wakes that thread alone (under the
  // pool's mutex): a caller asleep on `done`, or a worker that helps meanwhile.
  bool blocked = false;
  bool helping = false;
  std::condition_variable done;
};

struct Task {
  Job* job;
  std::size_t begin;
  std::size_t end;
  std::size_t splits;  // how many more times the piece may be halved, roughly
};

std::atomic<PieceObserver> g_observer{nullptr};
std::atomic<std::size_t> g_thread_starts{static_cast<std::size_t>(-1)};

inline constexpr std::size_t kPiecesPerWorker = 8;

void observe(std::size_t begin, std::size_t end) {
  if (const PieceObserver observer = g_observer.load(std::memory_order_acquire))
    observer(begin, end);
}

class Pool;
thread_local Pool* t_worker_of = nullptr;  // the pool whose worker this thread is

class Pool {
 public:
  // Starts up to `workers` threads. Under a process or memory limit fewer may
  // start, none at all included: the pool then works with those it has, and
  // with none every call runs on its calling thread.
  explicit Pool(std::size_t workers) {
    try {
      threads_.reserve(workers);
      for (std::size_t i = 0; i < workers; ++i) {
        if (i >= g_thread_starts.load(std::memory_order_relaxed)) {
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        threads_.emplace_back([this] { work_loop(); });
      }
    } catch (const std::exception&) {
      // std::system_error from the thread start, or std::bad_alloc.
    }
    workers_ = threads_.size();
  }

  std::size_t workers() const { return workers_; }

  // The cuts of one call: a few pieces per worker, so that a worker that
  // finishes early finds work instead of idling behind one big piece, and not
  // so many that the queue's lock shows. Pieces taken over do not earn more.
  std::size_t split_budget() const { return workers_ * kPiecesPerWorker; }

  bool is_own_worker() const { return t_worker_of == this; }

  void push(const Task& task) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(task);
    }
    work_cv_.notify_one();
  }

  // Queues `count` more uncut elements for `job`, each as (0, 1); returns how
  // many the queue had room for.
  std::size_t push_more(Job& job, std::size_t count) {
    std::size_t pushed = 0;
    {
      std::lock_guard lock(mutex_);
      try {
        for (; pushed < count; ++pushed) queue_.push_back(Task{&job, 0, 1, 0});
      } catch (const std::bad_alloc&) {}
      job.remaining += pushed;
    }
    for (std::size_t i = 0; i < pushed; ++i) work_cv_.notify_one();
    return pushed;
  }

  // Cuts the piece while it may (handing the right halves to the queue), then
  // runs what is left of it and accounts for it.
  void run_task(Task task) {
    Job& job = *task.job;
    std::size_t begin = task.begin;
    std::size_t end = task.end;
    std::size_t splits = task.splits;
    try {
      while (splits > 0 && (end - begin) / 2 >= PARALLEL_MIN_LEN) {
        const std::size_t middle = begin + (end - begin) / 2;
        splits /= 2;
        push(Task{&job, middle, end, splits});
        end = middle;
      }
    } catch (const std::bad_alloc&) {
      // The queue could not grow: this thread runs the uncut rest itself.
    }
    if (!job.failed.load(std::memory_order_relaxed)) {
      try {
        observe(begin, end);
        job.work.run(job.work.context, begin, end);
      } catch (...) {
        if (!job.failed.exchange(true)) job.error = std::current_exception();
      }
    }
    finish(job, end - begin);
  }

  // The waiting of a caller that is not a worker of this pool: it only blocks,
  // and only the end of its own job wakes it.
  void wait_blocking(Job& job) {
    std::unique_lock lock(mutex_);
    job.blocked = true;
    job.done.wait(lock, [&] { return job.remaining == 0; });
  }

  // The waiting of a worker (a nested map): it runs pending pieces meanwhile,
  // so the pieces that it waits for cannot starve behind it.
  void wait_helping(Job& job) {
    std::unique_lock lock(mutex_);
    job.helping = true;
    while (job.remaining != 0) {
      if (!queue_.empty()) {
        const Task task = queue_.front();
        queue_.pop_front();
        lock.unlock();
        run_task(task);
        lock.lock();
        continue;
      }
      work_cv_.wait(lock);
    }
  }

  void stop_and_join() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    work_cv_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  void finish(Job& job, std::size_t count) {
    // Under the mutex: the waiter sees the count reach zero only after this
    // has let go of the job, so the job cannot vanish while it is touched.
    std::lock_guard lock(mutex_);
    job.remaining -= count;
    if (job.remaining != 0) return;
    if (job.blocked) job.done.notify_one();
    if (job.helping) work_cv_.notify_all();  // the helper sleeps among the idle workers
  }

  void work_loop() {
    t_worker_of = this;
    std::unique_lock lock(mutex_);
    while (true) {
      work_cv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      const Task task = queue_.front();
      queue_.pop_front();
      lock.unlock();
      run_task(task);
      lock.lock();
    }
  }

  std::size_t workers_ = 0;
  std::mutex mutex_;
  std::condition_variable work_cv_;  // pieces queued, or a helped job done
  std::deque<Task> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// Guards the start of the pool; held across fork() so that the child never
// inherits it locked by a thread that it does not have.
std::mutex g_start_mutex;
std::atomic<Pool*> g_pool{nullptr};
bool g_fork_handlers = false;  // under g_start_mutex

void before_fork() {
  g_start_mutex.lock();
}
void after_fork_in_parent() {
  g_start_mutex.unlock();
}
void after_fork_in_child() {
  // The workers did not come along; the old pool (and its possibly locked
  // mutex) is abandoned, and the next parallel call starts a new one.
  g_pool.store(nullptr, std::memory_order_release);
  g_start_mutex.unlock();
}

std::size_t default_workers() {
  if (const char* text = std::getenv("PLINTH_NUM_THREADS")) {
    const std::string_view value(text);
    std::size_t count = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
    if (ec == std::errc{} && end == value.data() + value.size() && count > 0) return count;
  }
  return available_cpus();
}

// Requires g_start_mutex.
void install_fork_handlers() {
  if (g_fork_handlers) return;
  pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);
  g_fork_handlers = true;
}

Pool& current_pool() {
  if (Pool* pool = g_pool.load(std::memory_order_acquire)) return *pool;
  std::lock_guard lock(g_start_mutex);
  Pool* pool = g_pool.load(std::memory_order_relaxed);
  if (pool == nullptr) {
    install_fork_handlers();
    pool = new Pool(default_workers());  // never deleted: the pool lives as long as the process
    g_pool.store(pool, std::memory_order_release);
  }
  return *pool;
}

}  // namespace

void run_parallel(std::size_t count, RangeWork work) {
  Pool& pool = current_pool();
  if (count < 2 * PARALLEL_MIN_LEN || pool.workers() == 0) {
    // Too short to cut: one piece on the calling thread.
    observe(0, count);
    work.run(work.context, 0, count);
    return;
  }
  Job job{work, count};
  const Task whole{&job, 0, count, pool.split_budget()};
  if (pool.is_own_worker()) {
    pool.run_task(whole);
    pool.wait_helping(job);
  } else {
    pool.push(whole);
    pool.wait_blocking(job);
  }
  if (job.error) std::rethrow_exception(job.error);
}

void run_beside(std::size_t helpers, RangeWork work,
                const std::function<void(const AddHelper&)>& own) {
  Pool& pool = current_pool();
  helpers = std::min(helpers, pool.workers());
  if (helpers == 0) {
    own([] { return false; });
    return;
  }
  Job job{work, 0};
  pool.push_more(job, helpers);
  std::exception_ptr own_error;
  try {
    own([&pool, &job] { return pool.push_more(job, 1) == 1; });
  } catch (...) {
    own_error = std::current_exception();
  }
  // The job lives on this stack: wait for every element even when `own` threw.
  if (pool.is_own_worker()) {
    pool.wait_helping(job);
  } else {
    pool.wait_blocking(job);
  }
  if (own_error) std::rethrow_exception(own_error);
  if (job.error) std::rethrow_exception(job.error);
}

bool thread_pool_started() {
  return g_pool.load(std::memory_order_acquire) != nullptr;
}

std::size_t thread_pool_workers() {
  return current_pool().workers();
}

void reset_thread_pool_for_testing(std::size_t workers) {
  std::lock_guard lock(g_start_mutex);
  install_fork_handlers();
  if (Pool* old = g_pool.exchange(nullptr, std::memory_order_acq_rel)) {
    old->stop_and_join();
    delete old;
  }
  g_pool.store(new Pool(workers > 0 ? workers : default_workers()), std::memory_order_release);
}

void limit_thread_starts_for_testing(std::size_t starts) {
  g_thread_starts.store(starts, std::memory_order_relaxed);
}

void set_piece_observer_for_testing(PieceObserver observer) {
  g_observer.store(observer, std::memory_order_release);
}

}  // namespace textgrid::detail
