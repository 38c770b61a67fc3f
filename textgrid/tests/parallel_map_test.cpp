#include "parallel/parallel_map.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/cpus.hpp"
#include "parallel/pool_testing.hpp"
#include "parallel/thread_pool.hpp"

namespace textgrid {
namespace {

struct Piece {
  std::size_t begin;
  std::size_t end;
  std::thread::id thread;
};

std::mutex g_pieces_mutex;
std::vector<Piece> g_pieces;

void record_piece(std::size_t begin, std::size_t end) {
  std::lock_guard lock(g_pieces_mutex);
  g_pieces.push_back({begin, end, std::this_thread::get_id()});
}

// Records the pieces of the maps run while it lives.
class PieceLog {
 public:
  PieceLog() {
    g_pieces.clear();
    detail::set_piece_observer_for_testing(record_piece);
  }
  ~PieceLog() { detail::set_piece_observer_for_testing(nullptr); }

  std::vector<Piece> sorted() const {
    std::lock_guard lock(g_pieces_mutex);
    std::vector<Piece> pieces = g_pieces;
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.begin < b.begin; });
    return pieces;
  }
};

std::vector<std::size_t> iota(std::size_t count) {
  std::vector<std::size_t> values(count);
  std::iota(values.begin(), values.end(), 0);
  return values;
}

// Element work with uneven timing, so pieces finish out of order.
std::string label(const std::size_t& value) {
  if (value % 97 == 0) std::this_thread::sleep_for(std::chrono::microseconds(value % 7 * 20));
  std::string text = std::to_string(value * 3);
  text.insert(text.begin(), 'v');
  return text;
}

class pieces : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override { detail::reset_thread_pool_for_testing(GetParam()); }
};

TEST_P(pieces, cover_the_list_in_order_and_hold_at_least_twenty) {
  const std::size_t threshold = parallel_threshold();
  const std::vector<std::size_t> lengths = {threshold, threshold + 1, 39,   40,    41, 79,
                                            80,        1000,          4099, 100003};
  for (std::size_t length : lengths) {
    if (length < threshold) continue;
    const std::vector<std::size_t> input = iota(length);
    PieceLog log;
    const std::vector<std::string> out = parallel_map(std::span<const std::size_t>(input), label);
    ASSERT_EQ(out.size(), length);
    for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(out[i], label(i)) << "slot " << i;
    const std::vector<Piece> seen = log.sorted();
    ASSERT_FALSE(seen.empty());
    std::size_t next = 0;
    for (const Piece& piece : seen) {
      EXPECT_EQ(piece.begin, next) << "length " << length;
      if (length >= 40) {
        EXPECT_GE(piece.end - piece.begin, PARALLEL_MIN_LEN) << "length " << length;
      }
      next = piece.end;
    }
    EXPECT_EQ(next, length);
    if (length < 40) {
      // Too short to cut: one piece, on the calling thread.
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].thread, std::this_thread::get_id());
    }
    if (length >= 1000) {
      EXPECT_GT(seen.size(), 1u) << "a long list should be cut";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(workers, pieces, ::testing::Values(1u, 2u, 7u));

TEST(parallel_map, below_threshold_runs_on_caller_without_pieces) {
  const std::size_t threshold = parallel_threshold();
  ASSERT_GE(threshold, 10u);
  const std::vector<std::size_t> input = iota(threshold - 1);
  std::vector<std::thread::id> threads(input.size());
  PieceLog log;
  const auto out = parallel_map(std::span<const std::size_t>(input), [&](const std::size_t& v) {
    threads[v] = std::this_thread::get_id();
    return v + 1;
  });
  ASSERT_EQ(out.size(), input.size());
  for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], i + 1);
  for (const auto& id : threads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_TRUE(log.sorted().empty());
}

TEST(parallel_map, empty_list_gives_empty_result) {
  PieceLog log;
  const std::vector<int> none;
  EXPECT_TRUE(parallel_map(std::span<const int>(none), [](const int& v) { return v; }).empty());
  EXPECT_TRUE(log.sorted().empty());
}

TEST(parallel_map, passes_the_index_when_asked) {
  const std::vector<std::size_t> input(5000, 7);
  const auto out = parallel_map(std::span<const std::size_t>(input),
                                [](const std::size_t& v, std::size_t i) { return v * 100000 + i; });
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 700000 + i);
}

TEST(parallel_map, mutable_span_lets_work_move_parts_out) {
  std::vector<std::string> input;
  for (int i = 0; i < 3000; ++i) input.push_back(std::string(40, 'a') + std::to_string(i));
  const auto out =
      parallel_map(std::span<std::string>(input), [](std::string& s) { return std::move(s); });
  for (std::size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i], std::string(40, 'a') + std::to_string(i));
}

std::size_t inner_sum(const std::size_t& outer) {
  const std::vector<std::size_t> inner = iota(500 + outer % 50);
  const auto parts =
      parallel_map(std::span<const std::size_t>(inner), [](const std::size_t& v) { return v * 2; });
  return std::accumulate(parts.begin(), parts.end(), std::size_t{0});
}

TEST(parallel_map, nested_maps_finish_with_one_worker) {
  detail::reset_thread_pool_for_testing(1);
  const std::vector<std::size_t> outer = iota(300);
  const auto sums = parallel_map(std::span<const std::size_t>(outer), inner_sum);
  for (std::size_t i = 0; i < outer.size(); ++i) {
    const std::size_t n = 500 + i % 50;
    ASSERT_EQ(sums[i], n * (n - 1)) << i;
  }
}

TEST(parallel_map, exception_ends_the_call_and_pool_stays_usable) {
  detail::reset_thread_pool_for_testing(2);
  for (std::size_t length : {std::size_t{39}, std::size_t{10000}}) {
    if (length < parallel_threshold()) continue;
    const std::vector<std::size_t> input = iota(length);
    try {
      (void)parallel_map(std::span<const std::size_t>(input), [](const std::size_t& v) {
        if (v == 31) throw std::runtime_error("element 31 failed");
        return v;
      });
      ADD_FAILURE() << "no exception for length " << length;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "element 31 failed");
    }
    const auto out = parallel_map(std::span<const std::size_t>(input), label);
    ASSERT_EQ(out.back(), label(length - 1));
  }
}

// Runs `body` in a forked child (with an alarm against deadlock) and expects
// it to exit with 0.
template <class Body>
void expect_child_succeeds(Body body) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(30);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child died by signal "
                                 << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(parallel_map, child_of_fork_completes_parallel_calls) {
  detail::reset_thread_pool_for_testing(2);
  const std::vector<std::size_t> input = iota(20000);
  ASSERT_EQ(parallel_map(std::span<const std::size_t>(input), label).back(), label(19999));
  expect_child_succeeds([&] {
    if (detail::thread_pool_started()) return false;  // the parent's workers did not come along
    const auto out = parallel_map(std::span<const std::size_t>(input), label);
    for (std::size_t i = 0; i < out.size(); ++i)
      if (out[i] != label(i)) return false;
    return detail::thread_pool_started() && inner_sum(7) == 507 * 506;
  });
  // The parent's pool is untouched by the child.
  EXPECT_EQ(parallel_map(std::span<const std::size_t>(input), label)[123], label(123));
}

// Under a process limit only some workers start, or none: the pool works with
// those it has (none: every map on the calling thread), in a child because the
// fault it guards against aborts the process.
TEST(parallel_map, pool_works_with_the_workers_it_could_start) {
  const std::vector<std::size_t> input = iota(20000);
  for (const std::size_t starts : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
    expect_child_succeeds([&] {
      detail::limit_thread_starts_for_testing(starts);
      detail::reset_thread_pool_for_testing(4);
      if (detail::thread_pool_workers() != starts) return false;
      for (int round = 0; round < 2; ++round) {
        PieceLog log;
        const auto out = parallel_map(std::span<const std::size_t>(input), label);
        for (std::size_t i = 0; i < out.size(); ++i)
          if (out[i] != label(i)) return false;
        const std::vector<Piece> seen = log.sorted();
        if (starts == 0 && (seen.size() != 1 || seen[0].thread != std::this_thread::get_id())) {
          return false;
        }
        if (inner_sum(7) != 507 * 506) return false;
      }
      return true;
    });
  }
}

TEST(parallel_map, pool_starts_at_the_threshold_only) {
  detail::reset_thread_pool_for_testing(2);
  const std::size_t threshold = parallel_threshold();
  expect_child_succeeds([&] {
    const std::vector<std::size_t> none;
    (void)parallel_map(std::span<const std::size_t>(none), label);
    const std::vector<std::size_t> below = iota(threshold - 1);
    (void)parallel_map(std::span<const std::size_t>(below), label);
    if (detail::thread_pool_started()) return false;
    const std::vector<std::size_t> at = iota(threshold);
    (void)parallel_map(std::span<const std::size_t>(at), label);
    return detail::thread_pool_started();
  });
}

TEST(parallel_map, worker_count_from_environment_at_pool_start) {
  detail::reset_thread_pool_for_testing(2);
  const std::vector<std::size_t> input = iota(5000);
  (void)parallel_map(std::span<const std::size_t>(input), label);
  // A child starts its own pool, so it reads the variable afresh.
  expect_child_succeeds([&] {
    setenv("PLINTH_NUM_THREADS", "3", 1);
    const auto out = parallel_map(std::span<const std::size_t>(input), label);
    return out[4999] == label(4999) && detail::thread_pool_workers() == 3;
  });
  for (const char* unusable : {"0", "-2", "many", ""}) {
    expect_child_succeeds([&] {
      setenv("PLINTH_NUM_THREADS", unusable, 1);
      return detail::thread_pool_workers() == available_cpus();
    });
  }
}

}  // namespace
}  // namespace textgrid
