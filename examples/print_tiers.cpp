// Reads TextGrid files given on the command line and prints their tiers:
// a small program of the core, no Python involved.
#include <cstdio>
#include <string>

#include "read/read.hpp"

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    auto grid = textgrid::read_from_file(path, true, "auto");
    if (!grid) {
      std::printf("%s: %s\n", path.c_str(), grid.error().message.c_str());
      ++failures;
      continue;
    }
    std::printf("%s: %.6g to %.6g s, %zu tiers\n", path.c_str(), grid->tmin, grid->tmax,
                grid->tiers.size());
    for (const auto& tier : grid->tiers) {
      std::printf("  %-12s %-12s %zu %s\n", tier.name.c_str(),
                  tier.is_interval ? "IntervalTier" : "TextTier", tier.items.size(),
                  tier.is_interval ? "intervals" : "points");
    }
  }
  return failures == 0 ? 0 : 1;
}
