// Times read_from_file on generated long-layout files: one tier of 100,000
// intervals, and three such tiers. Prints the first run (fresh memory, as a
// program that reads one file sees it) and the median of several runs in ms,
// and the throughput of the median in MB/s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "read/read.hpp"

namespace {

// A long-layout text as Praat writes it, with seeded, varied labels.
std::string make_long_text(int tiers, int intervals) {
  std::string out = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \n";
  const double step = 0.0125;
  const double end = step * intervals;
  out += "xmax = " + std::to_string(end) + " \ntiers? <exists> \nsize = " + std::to_string(tiers) +
         " \nitem []: \n";
  unsigned seed = 12345;
  for (int t = 0; t < tiers; ++t) {
    out += "    item [" + std::to_string(t + 1) + "]:\n        class = \"IntervalTier\" \n";
    out += "        name = \"tier" + std::to_string(t) + "\" \n        xmin = 0 \n";
    out += "        xmax = " + std::to_string(end) +
           " \n        intervals: size = " + std::to_string(intervals) + " \n";
    for (int i = 0; i < intervals; ++i) {
      seed = seed * 1103515245u + 12345u;
      char line[256];
      std::snprintf(line, sizeof line,
                    "        intervals [%d]:\n            xmin = %.17g \n"
                    "            xmax = %.17g \n            text = \"w%u\" \n",
                    i + 1, step * i, step * (i + 1), (seed >> 16) % 5000);
      out += line;
    }
  }
  return out;
}

struct Timing {
  double first_ms;
  double median_ms;
};

Timing time_reads(const std::string& path, int runs, std::size_t& items) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    auto grid = textgrid::read_from_file(path, true, "long");
    const auto stop = std::chrono::steady_clock::now();
    if (!grid) {
      std::fprintf(stderr, "read failed: %s\n", grid.error().message.c_str());
      std::exit(1);
    }
    items = 0;
    for (const auto& tier : grid->tiers) items += tier.items.size();
    times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  const double first = times.front();
  std::sort(times.begin(), times.end());
  return {first, times[times.size() / 2]};
}

}  // namespace

int main() {
  std::printf("%-22s %8s %8s %10s %10s %8s\n", "file", "MB", "items", "first ms", "median ms",
              "MB/s");
  for (const int tiers : {1, 3}) {
    const std::string text = make_long_text(tiers, 100000);
    const std::string path = "/tmp/plinth_bench_read_" + std::to_string(tiers) + ".TextGrid";
    std::ofstream(path, std::ios::binary) << text;
    std::size_t items = 0;
    const Timing t = time_reads(path, 9, items);
    const double mb = static_cast<double>(text.size()) / 1e6;
    std::printf("%-22s %8.2f %8zu %10.2f %10.2f %8.1f\n",
                (std::to_string(tiers) + " tier(s) x 100000").c_str(), mb, items, t.first_ms,
                t.median_ms, mb / (t.median_ms / 1000.0));
    if (!std::getenv("PLINTH_BENCH_KEEP")) std::remove(path.c_str());
  }
  return 0;
}
