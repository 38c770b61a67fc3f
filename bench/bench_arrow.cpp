// Times the batch read into Arrow buffers against reading alone and against
// the batch read into vectors, over many files of two interval tiers. Usage:
//   bench_arrow [files=1000] [intervals=500] [repeats=7]
// Each runs on a pool of one worker, then of two; ratios are printed, with
// the process CPU time over the wall time (near the worker count when the
// work spreads, whatever else keeps the machine busy).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "arrow/arrow_table.hpp"
#include "parallel/parallel_map.hpp"
#include "parallel/pool_testing.hpp"
#include "parallel/thread_pool.hpp"
#include "read/batch.hpp"
#include "read/read.hpp"

namespace {

namespace fs = std::filesystem;

std::string corpus_file(std::size_t seed, std::size_t intervals) {
  std::string text = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \n";
  const std::size_t per_tier = intervals / 2;
  const std::string end = std::to_string(static_cast<double>(per_tier) * 0.1);
  text.append("xmax = ").append(end).append(" \ntiers? <exists> \nsize = 2 \nitem []: \n");
  for (int tier = 0; tier < 2; ++tier) {
    text.append("    item [").append(std::to_string(tier + 1)).append("]:\n");
    text.append("        class = \"IntervalTier\" \n        name = \"");
    text.append(tier == 0 ? "words" : "phones").append("\" \n        xmin = 0 \n");
    text.append("        xmax = ").append(end).append(" \n");
    text.append("        intervals: size = ").append(std::to_string(per_tier)).append(" \n");
    for (std::size_t j = 0; j < per_tier; ++j) {
      text.append("        intervals [").append(std::to_string(j + 1)).append("]:\n");
      text.append("            xmin = ").append(std::to_string(static_cast<double>(j) * 0.1));
      text.append(" \n            xmax = ")
          .append(std::to_string(static_cast<double>(j + 1) * 0.1));
      text.append(" \n            text = \"w").append(std::to_string((seed * 7919 + j) % 5000));
      text.append("\" \n");
    }
  }
  return text;
}

double process_cpu_ms() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Timing {
  double median_ms;
  double cpu_per_wall;
};

template <class F>
Timing time_runs(int repeats, F&& run) {
  run();  // warm: page cache, pool
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

}  // namespace

int main(int argc, char** argv) {
  const std::size_t files = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
  const std::size_t intervals = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 500;
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 7;

  std::string pattern = (fs::temp_directory_path() / "plinth_bench_arrow_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = pattern;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < files; ++i) {
    const fs::path path = dir / std::string("f").append(std::to_string(i)).append(".TextGrid");
    std::ofstream(path, std::ios::binary) << corpus_file(i, intervals);
    paths.push_back(path.string());
  }

  std::vector<double> table_ms;
  for (const std::size_t workers : {std::size_t{1}, std::size_t{2}}) {
    textgrid::detail::reset_thread_pool_for_testing(workers);
    const Timing read = time_runs(repeats, [&] {
      const auto counts =
          textgrid::parallel_map(std::span<const std::string>(paths), [](const std::string& path) {
            auto grid = textgrid::read_from_file(path, false, "auto");
            return grid ? grid->tiers.size() : std::size_t{0};
          });
      if (counts.size() != paths.size()) std::abort();
    });
    const Timing vectors = time_runs(repeats, [&] {
      if (textgrid::files_to_vectors(paths, false, "auto").size() != paths.size()) std::abort();
    });
    std::int64_t rows = 0;
    const Timing table = time_runs(repeats, [&] { rows = textgrid::read_table(paths, {}).rows(); });
    table_ms.push_back(table.median_ms);
    std::printf("%zu worker(s), %zu files, %lld rows\n", workers, files,
                static_cast<long long>(rows));
    std::printf("  read only        %9.2f ms (cpu/wall %.2f)\n", read.median_ms, read.cpu_per_wall);
    std::printf("  files_to_vectors %9.2f ms (cpu/wall %.2f)\n", vectors.median_ms,
                vectors.cpu_per_wall);
    std::printf("  read_table       %9.2f ms (cpu/wall %.2f)\n", table.median_ms,
                table.cpu_per_wall);
    std::printf("  read_table / read only: %.2f; files_to_vectors / read_table: %.2f\n",
                table.median_ms / read.median_ms, vectors.median_ms / table.median_ms);
  }
  std::printf("read_table one worker / two workers: %.2f\n", table_ms[0] / table_ms[1]);
  fs::remove_all(dir);
  return 0;
}
