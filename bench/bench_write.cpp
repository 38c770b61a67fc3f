// Throughput of both layouts for one tier of 1,000,000 intervals, with the
// pool at one worker and at two, by stage: the text alone, and the whole
// save_textgrid (text and file, written under the temporary folder).
// Usage: bench_write [items] [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <unistd.h>

#include "model/textgrid.hpp"
#include "parallel/pool_testing.hpp"

namespace {

textgrid::TextGrid make_document(std::size_t count) {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> step(0.01, 0.5);
  const char* words[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy", "dog", ""};
  textgrid::Tier tier;
  tier.name = "words";
  tier.items.reserve(count);
  double t = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double end = t + step(random);
    tier.items.push_back({t, end, words[i % 10]});
    t = end;
  }
  tier.tmax = t;
  tier.size = count;
  textgrid::TextGrid grid;
  grid.tmax = t;
  grid.size = 1;
  grid.tiers.push_back(std::move(tier));
  return grid;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const textgrid::TextGrid grid = make_document(count);
  std::printf("one tier of %zu intervals, best of %d rounds\n", count, rounds);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("plinth_bench_write_" + std::to_string(getpid()) + ".TextGrid"))
                               .string();
  const auto best_of = [rounds](auto&& run) {
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
      const auto start = std::chrono::steady_clock::now();
      run();
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count());
    }
    return best;
  };
  for (const bool long_layout : {true, false}) {
    for (std::size_t workers : {1u, 2u}) {
      textgrid::detail::reset_thread_pool_for_testing(workers);
      std::size_t bytes = 0;
      const double text_only = best_of([&] {
        bytes =
            (long_layout ? grid.to_long_textgrid_string() : grid.to_short_textgrid_string()).size();
      });
      const double whole = best_of([&] {
        if (!grid.save_textgrid(path, long_layout)) std::printf("  save failed\n");
      });
      const double mb = static_cast<double>(bytes) / 1e6;
      std::printf(
          "%s layout, workers %zu: %.1f MB; text only %.3f s = %.1f MB/s; save_textgrid %.3f s = "
          "%.1f MB/s\n",
          long_layout ? "long " : "short", workers, mb, text_only, mb / text_only, whole,
          mb / whole);
    }
  }
  std::filesystem::remove(path);
  return 0;
}
