// One benchmark per stage of a read, as simdjson keeps one per variant: the
// read-and-count-lines limit (the work of limit_baseline), the whole-file
// read alone, the reader alone on a text already in memory (parse only), the
// read and the reader together into the view the module builds from, and
// the same ending in the owning TextGrid. The stages take turns, round after
// round, so that the machine's load falls on all of them alike; prints the
// median of each in ms and its ratio to the limit.
//
// Usage: bench_stages [--reps N] long|short FILE
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "formats/parser_long.hpp"
#include "formats/parser_short.hpp"
#include "read/read.hpp"
#include "read_whole.hpp"
#include "text/text_rules.hpp"

namespace {

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_stages: %s\n", what.c_str());
  std::exit(1);
}

// limit_baseline's read: the whole file from the page cache, every line
// break counted.
std::size_t read_and_count(const std::string& path, std::vector<char>& buffer) {
  const auto size = read_whole(path, buffer);
  if (!size) die(path + ": " + std::strerror(errno));
  return static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + *size, '\n'));
}

struct Stage {
  const char* name;
  std::function<std::size_t()> run;  // returns something to keep the work alive
  std::vector<double> ms;
};

std::size_t items_of(const textgrid::TextGridView& view) {
  std::size_t n = 0;
  for (const auto& tier : view.tiers) n += tier.items.size();
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 15;
  int arg = 1;
  if (arg + 1 < argc && std::strcmp(argv[arg], "--reps") == 0) {
    reps = std::max(1, std::atoi(argv[arg + 1]));
    arg += 2;
  }
  if (arg + 2 != argc) die("usage: bench_stages [--reps N] long|short FILE");
  const std::string layout = argv[arg];
  const std::string path = argv[arg + 1];
  const bool is_long = layout == "long";
  if (!is_long && layout != "short") die("layout must be long or short");

  auto text = textgrid::read_text_file(path);
  if (!text) die(path + ": " + text.error().message);
  std::vector<char> buffer;
  std::string scratch;  // parse only: the copy is made before the clock starts

  std::vector<Stage> stages;
  stages.push_back({"limit: read + count lines", [&] { return read_and_count(path, buffer); }, {}});
  stages.push_back({"read only (read_text_file)",
                    [&] {
                      auto read = textgrid::read_text_file(path);
                      return read ? read->size() : 0;
                    },
                    {}});
  stages.push_back(
      {"parse only (in-memory text, view)",
       [&] {
         auto view = is_long
                         ? textgrid::parse_long_view(std::move(scratch), "x", {.strict = true})
                         : textgrid::parse_short_view(std::move(scratch), "x", {.strict = true});
         if (!view) die(view.error().message);
         return items_of(*view);
       },
       {}});
  const textgrid::ReadOptions options{
      .file_type = is_long ? textgrid::FileType::Long : textgrid::FileType::Short, .strict = true};
  stages.push_back({"read + parse (read_file)",
                    [&] {
                      auto view = textgrid::read_file(path, options);
                      if (!view) die(view.error().message);
                      return items_of(*view);
                    },
                    {}});
  stages.push_back({"read + parse + TextGrid (read_from_file)",
                    [&] {
                      auto grid = textgrid::read_from_file(path, true, layout);
                      if (!grid) die(grid.error().message);
                      return grid->tiers.size();
                    },
                    {}});

  std::size_t sink = 0;
  for (int rep = 0; rep < reps; ++rep) {
    for (Stage& stage : stages) {
      scratch = *text;
      const auto start = std::chrono::steady_clock::now();
      sink += stage.run();
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - start;
      stage.ms.push_back(took.count());
    }
  }
  double limit = 0.0;
  std::printf("%s, %s layout, %zu bytes, %d rounds (sink %zu)\n", path.c_str(), layout.c_str(),
              text->size(), reps, sink);
  for (Stage& stage : stages) {
    std::sort(stage.ms.begin(), stage.ms.end());
    const double median = stage.ms[stage.ms.size() / 2];
    if (limit == 0.0) limit = median;
    std::printf("  %-44s %8.2f ms  %5.2fx the limit\n", stage.name, median, median / limit);
  }
  return 0;
}
