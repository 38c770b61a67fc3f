#include "parallel/ordered_stream.hpp"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "base/cpus.hpp"
#include "parallel/pool_testing.hpp"

namespace textgrid {
namespace {

using namespace std::chrono_literals;

// An element that counts how many of its kind are alive, so that the bound on
// what the stream holds at once can be checked.
std::atomic<int> g_alive{0};
std::atomic<int> g_most_alive{0};

struct Counted {
  std::size_t value = 0;
  bool live = false;
  Counted() = default;
  explicit Counted(std::size_t v) : value(v), live(true) {
    const int now = ++g_alive;
    int most = g_most_alive.load();
    while (now > most && !g_most_alive.compare_exchange_weak(most, now)) {}
  }
  Counted(Counted&& other) noexcept : value(other.value), live(std::exchange(other.live, false)) {}
  Counted& operator=(Counted&&) = delete;
  ~Counted() {
    if (live) --g_alive;
  }
};

// The caller's lock as the Python module uses it: held while consuming,
// let go while the caller produces or sleeps. Every misuse is counted.
struct FakeLock {
  std::thread::id owner = std::this_thread::get_id();
  bool held = true;
  int faults = 0;
  CallerLock hooks() {
    return {[this] {
              if (!held || std::this_thread::get_id() != owner) ++faults;
              held = false;
            },
            [this] {
              if (held || std::this_thread::get_id() != owner) ++faults;
              held = true;
            }};
  }
};

enum class End { whole, consumer_stops, consumer_throws, producer_throws };

struct StreamRun {
  std::vector<std::size_t> consumed;
  std::vector<int> produced;  // how often each element was produced
  std::atomic<int> in_flight{0};
  int faults = 0;     // consumed off the caller, or without the lock
  std::string error;  // what the call threw
  bool cancelled = false;
};

// Streams `count` elements, the first End-ing at element `at`; produce sleeps
// now and then, so that the threads overtake one another, and the consumer on
// every 50th element, so that the helpers end on a full window and are queued
// again.
void stream(std::size_t count, End end, std::size_t at, StreamRun& run) {
  run.produced.assign(count, 0);
  FakeLock lock;
  const CallerLock hooks = lock.hooks();
  std::atomic<bool> cancel{false};
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<std::atomic<int>> produced(count);
  auto produce = [&](std::size_t i) {
    ++run.in_flight;
    if (std::this_thread::get_id() == caller && lock.held) ++run.faults;
    ++produced[i];
    if (i % 13 == 5) std::this_thread::sleep_for(200us);
    --run.in_flight;
    if (end == End::producer_throws && i == at) throw std::runtime_error("produce");
    return Counted(i);
  };
  auto consume = [&](std::size_t i, Counted&& element) {
    if (std::this_thread::get_id() != caller || !lock.held || element.value != i) ++run.faults;
    run.consumed.push_back(i);
    if (i % 50 == 7) std::this_thread::sleep_for(1ms);
    if (end == End::consumer_throws && i == at) throw std::runtime_error("consume");
    return !(end == End::consumer_stops && i == at);
  };
  try {
    produce_in_order<Counted>(count, produce, consume, hooks, cancel);
  } catch (const std::runtime_error& error) {
    run.error = error.what();
  }
  run.cancelled = cancel.load();
  run.faults += lock.faults + (lock.held ? 0 : 1);
  for (std::size_t i = 0; i < count; ++i) run.produced[i] = produced[i].load();
}

// (workers, elements): 0 workers stands for a pool that could start none.
class ordered_stream : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {
 protected:
  void SetUp() override {
    workers_ = std::get<0>(GetParam());
    count_ = std::get<1>(GetParam());
    if (workers_ == 0) detail::limit_thread_starts_for_testing(0);
    detail::reset_thread_pool_for_testing(workers_ == 0 ? 4 : workers_);
    g_most_alive = 0;
  }
  void TearDown() override {
    detail::limit_thread_starts_for_testing(std::numeric_limits<std::size_t>::max());
    detail::reset_thread_pool_for_testing(2);
  }

  // At most the window is produced and not yet dropped, plus the one claimed
  // when the consumer takes an element.
  int bound() const {
    const bool pooled = count_ >= parallel_threshold() && workers_ > 1;
    return pooled ? static_cast<int>(kAheadPerThread * workers_ + 1) : 1;
  }

  std::size_t workers_ = 0;
  std::size_t count_ = 0;
};

TEST_P(ordered_stream, hands_every_element_over_once_in_order) {
  StreamRun run;
  stream(count_, End::whole, 0, run);
  EXPECT_EQ(run.faults, 0);
  EXPECT_EQ(run.error, "");
  EXPECT_FALSE(run.cancelled);
  ASSERT_EQ(run.consumed.size(), count_);
  for (std::size_t i = 0; i < count_; ++i) {
    EXPECT_EQ(run.consumed[i], i);
    EXPECT_EQ(run.produced[i], 1) << i;
  }
  EXPECT_LE(g_most_alive.load(), bound());
  EXPECT_EQ(g_alive.load(), 0);
}

// However the stream ends early, nothing is consumed after the end, no worker
// is still producing when the call returns, the lock is held again, and the
// failure is the one thrown.
TEST_P(ordered_stream, an_early_end_waits_for_the_workers) {
  if (count_ == 0) return;  // nothing to end
  const std::size_t at = count_ / 2;
  for (const End end : {End::consumer_stops, End::consumer_throws, End::producer_throws}) {
    StreamRun run;
    stream(count_, end, at, run);
    EXPECT_EQ(run.faults, 0);
    EXPECT_EQ(run.error, end == End::consumer_stops    ? ""
                         : end == End::consumer_throws ? "consume"
                                                       : "produce");
    EXPECT_TRUE(run.cancelled);
    EXPECT_EQ(run.in_flight.load(), 0);
    // A producer's failure ends the stream when it happens, possibly before
    // the consumer has reached the elements before it.
    if (end == End::producer_throws) {
      EXPECT_LE(run.consumed.size(), at);
    } else {
      EXPECT_EQ(run.consumed.size(), at + 1);
    }
    for (std::size_t i = 0; i < run.consumed.size(); ++i) EXPECT_EQ(run.consumed[i], i);
    for (const int times : run.produced) EXPECT_LE(times, 1);
    EXPECT_EQ(g_alive.load(), 0);
  }
  // The pool is usable after.
  StreamRun again;
  stream(count_, End::whole, 0, again);
  EXPECT_EQ(again.consumed.size(), count_);
}

INSTANTIATE_TEST_SUITE_P(workers_and_sizes, ordered_stream,
                         ::testing::Combine(::testing::Values(0u, 1u, 2u, 4u),
                                            ::testing::Values(0u, 1u, 5u, 400u)));

}  // namespace
}  // namespace textgrid
