// Times the batch read into vectors over many small files and the grouping of
// a large vector form back into tiers. Usage:
//   bench_batch [files=2000] [repeats=7]
// The batch runs on a pool of one worker, then of two.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/converter.hpp"
#include "parallel/pool_testing.hpp"
#include "parallel/thread_pool.hpp"
#include "read/batch.hpp"
#include "read/read.hpp"

namespace {

namespace fs = std::filesystem;
using textgrid::TextGridVectors;

// A small long-layout document: an interval tier of `n` words and a point
// tier of n / 2 beats, seeded by `seed` so the files differ.
std::string small_textgrid(std::size_t seed, std::size_t n) {
  const double step = 0.25 + static_cast<double>(seed % 13) * 0.01;
  const std::string end = std::to_string(step * static_cast<double>(n));
  std::string text = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \n";
  text.append("xmax = ").append(end).append(" \ntiers? <exists> \nsize = 2 \nitem []: \n");
  text.append("    item [1]:\n        class = \"IntervalTier\" \n        name = \"words\" \n");
  text.append("        xmin = 0 \n        xmax = ").append(end).append(" \n");
  text.append("        intervals: size = ").append(std::to_string(n)).append(" \n");
  for (std::size_t j = 0; j < n; ++j) {
    text.append("        intervals [").append(std::to_string(j + 1)).append("]:\n");
    text.append("            xmin = ").append(std::to_string(step * static_cast<double>(j)));
    text.append(" \n            xmax = ").append(std::to_string(step * static_cast<double>(j + 1)));
    text.append(" \n            text = \"w").append(std::to_string(seed * 31 + j)).append("\" \n");
  }
  text.append("    item [2]:\n        class = \"TextTier\" \n        name = \"beats\" \n");
  text.append("        xmin = 0 \n        xmax = ").append(end).append(" \n");
  text.append("        points: size = ").append(std::to_string(n / 2)).append(" \n");
  for (std::size_t j = 0; j < n / 2; ++j) {
    text.append("        points [").append(std::to_string(j + 1)).append("]:\n");
    text.append("            number = ").append(std::to_string(step * static_cast<double>(2 * j)));
    text.append(" \n            mark = \"b\" \n");
  }
  return text;
}

double process_cpu_ms() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The median wall time of `repeats` runs, and the process CPU time over the
// wall time of all runs: near the worker count when the work really spreads,
// even on a machine that other jobs keep busy.
struct Timing {
  double median_ms;
  double cpu_per_wall;
};

template <class F>
Timing time_runs(int repeats, F&& run) {
  std::vector<double> times;
  const double cpu_start = process_cpu_ms();
  double wall_total = 0.0;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    run();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    wall_total += times.back();
  }
  const double cpu_total = process_cpu_ms() - cpu_start;
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], cpu_total / wall_total};
}

// One million entries over ten tiers, round robin; `shuffled` reverses each
// tier's entries so that every tier needs its sort.
TextGridVectors large_vectors(std::size_t count, bool shuffled) {
  TextGridVectors v;
  v.tmins.reserve(count);
  v.tmaxs.reserve(count);
  v.labels.reserve(count);
  v.tier_of.reserve(count);
  v.is_intervals.reserve(count);
  for (std::size_t t = 0; t < 10; ++t)
    v.tier_names.push_back(std::string("tier").append(std::to_string(t)));
  const std::size_t per_tier = count / 10;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t slot = shuffled ? per_tier - 1 - i / 10 : i / 10;
    const double start = static_cast<double>(slot);
    v.tmins.push_back(start);
    v.tmaxs.push_back(start + 1.0);
    v.labels.push_back(std::string("label ").append(std::to_string(i)));
    v.tier_of.push_back(i % 10);
    v.is_intervals.push_back(1);
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t file_count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 7;

  std::string pattern = (fs::temp_directory_path() / "plinth_bench_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = pattern;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < file_count; ++i) {
    const fs::path path = dir / std::string("f").append(std::to_string(i)).append(".TextGrid");
    std::ofstream(path, std::ios::binary) << small_textgrid(i, 20);
    paths.push_back(path.string());
  }

  // One worker, then two: the batch should scale with the workers it gets.
  std::vector<double> batch_ms;
  for (const std::size_t workers : {std::size_t{1}, std::size_t{2}}) {
    textgrid::detail::reset_thread_pool_for_testing(workers);
    std::size_t entries = 0;
    const Timing timing = time_runs(repeats, [&] {
      const auto results = textgrid::files_to_vectors(paths, true, "auto");
      entries = 0;
      for (const TextGridVectors& v : results) entries += v.tmins.size();
    });
    batch_ms.push_back(timing.median_ms);
    std::printf(
        "files_to_vectors  %zu files, %zu entries, %zu worker(s): %.2f ms (cpu/wall %.2f)\n",
        file_count, entries, workers, timing.median_ms, timing.cpu_per_wall);
    if (entries != file_count * 30) {
      std::printf("  warning: expected %zu entries\n", file_count * 30);
    }
  }
  std::printf("files_to_vectors  one worker / two workers: %.2f\n", batch_ms[0] / batch_ms[1]);
  fs::remove_all(dir);

  for (const bool shuffled : {false, true}) {
    const TextGridVectors source = large_vectors(1'000'000, shuffled);
    std::vector<double> times;
    bool ok = true;
    for (int r = 0; r < repeats; ++r) {
      TextGridVectors v = source;  // the call consumes its columns; copy outside the clock
      const auto start = std::chrono::steady_clock::now();
      auto textgrid = textgrid::from_vectors(std::move(v), 0.0, 100'001.0, std::nullopt);
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      ok = ok && textgrid.has_value() && textgrid->tiers.size() == 10;
    }
    std::sort(times.begin(), times.end());
    const double ms = times[times.size() / 2];
    std::printf("from_vectors      1000000 entries, 10 tiers, %s: %.2f ms%s\n",
                shuffled ? "each tier reversed" : "each tier in order", ms, ok ? "" : " (FAILED)");
  }
  return 0;
}
