// Compares the readers of Praat's four layouts on one document: three tiers of
// 100,000 intervals and a tier of 100,000 points (or the number given), with
// seeded labels. The
// binary reader is timed against the long reader and the chronological reader
// against the short reader, the two of a pair alternating run by run so that
// both see the same machine. Prints the medians in ms and their ratios, for
// the parse of a text in memory and for the whole read of a file by "auto".
// The chronological and binary files are made here in Praat's own form (the
// core writes only the long and the short layout).
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "formats/parser_binary.hpp"
#include "formats/parser_chronological.hpp"
#include "formats/parser_long.hpp"
#include "formats/parser_short.hpp"
#include "model/textgrid.hpp"
#include "read/read.hpp"
#include "text/number_format.hpp"

namespace {

using textgrid::TextGrid;

TextGrid make_grid(int intervals) {
  TextGrid grid;
  const double step = 0.0125;
  grid.tmax = step * intervals;
  unsigned seed = 12345;
  const auto label = [&] {
    seed = seed * 1103515245u + 12345u;
    std::string text = "w";
    text += std::to_string((seed >> 16) % 5000);
    return text;
  };
  for (int t = 0; t < 4; ++t) {
    textgrid::Tier& tier = grid.tiers.emplace_back();
    tier.name = "tier" + std::to_string(t);
    tier.is_interval = t < 3;
    tier.tmax = grid.tmax;
    for (int i = 0; i < intervals; ++i) {
      const double start = tier.is_interval ? step * i : step * (i + 0.5);
      tier.items.push_back({start, tier.is_interval ? step * (i + 1) : start, label()});
    }
  }
  return grid;
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// As Praat's "Save as chronological text file" writes it (ASCII labels).
std::string chronological_text(const TextGrid& grid) {
  using textgrid::format_time;
  std::string out = "\"Praat chronological TextGrid text file\"\n" + format_time(grid.tmin) + " " +
                    format_time(grid.tmax) + "   ! Time domain.\n" +
                    std::to_string(grid.tiers.size()) + "   ! Number of tiers.\n";
  struct Record {
    double time;
    std::size_t tier;
    std::size_t item;
  };
  std::vector<Record> records;
  for (std::size_t t = 0; t < grid.tiers.size(); ++t) {
    const auto& tier = grid.tiers[t];
    out += quoted(tier.is_interval ? "IntervalTier" : "TextTier") + " " + quoted(tier.name) + " " +
           format_time(tier.tmin) + " " + format_time(tier.tmax) + "\n";
    for (std::size_t i = 0; i < tier.items.size(); ++i) {
      records.push_back({tier.items[i].tmin, t, i});
    }
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const Record& a, const Record& b) { return a.time < b.time; });
  for (const Record& r : records) {
    const auto& tier = grid.tiers[r.tier];
    const auto& item = tier.items[r.item];
    out += "\n! ";
    out += tier.name;
    out += ":\n";
    out += std::to_string(r.tier + 1);
    out += ' ';
    textgrid::append_time(out, item.tmin);
    out += ' ';
    if (tier.is_interval) textgrid::append_time(out, item.tmax);
    out += '\n';
    out += quoted(item.text);
    out += '\n';
  }
  out.pop_back();  // Praat ends the file without a line break
  return out;
}

// As Praat's "Save as binary file" writes it (8-bit labels).
std::string binary_bytes(const TextGrid& grid) {
  std::string out = "ooBinaryFile\x08TextGrid";
  const auto be = [&](std::uint64_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
  };
  const auto real = [&](double v) { be(std::bit_cast<std::uint64_t>(v), 8); };
  const auto text = [&](const std::string& s) {
    be(s.size(), 2);
    out += s;
  };
  real(grid.tmin);
  real(grid.tmax);
  out.push_back('\x01');
  be(grid.tiers.size(), 4);
  for (const auto& tier : grid.tiers) {
    out += tier.is_interval ? "\x0cIntervalTier" : "\x08TextTier";
    text(tier.name);
    real(tier.tmin);
    real(tier.tmax);
    be(tier.items.size(), 4);
    for (const auto& item : tier.items) {
      real(item.tmin);
      if (tier.is_interval) real(item.tmax);
      text(item.text);
    }
  }
  return out;
}

double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Runs a and b alternately; returns their medians.
std::pair<double, double> race(const std::function<std::size_t()>& a,
                               const std::function<std::size_t()>& b, int runs) {
  std::vector<double> ta, tb;
  for (int r = 0; r < runs; ++r) {
    auto start = std::chrono::steady_clock::now();
    const std::size_t na = a();
    ta.push_back(ms_since(start));
    start = std::chrono::steady_clock::now();
    const std::size_t nb = b();
    tb.push_back(ms_since(start));
    if (na != nb || na == 0) {
      std::fprintf(stderr, "the readers disagree: %zu against %zu items\n", na, nb);
      std::exit(1);
    }
  }
  std::sort(ta.begin(), ta.end());
  std::sort(tb.begin(), tb.end());
  return {ta[ta.size() / 2], tb[tb.size() / 2]};
}

std::size_t items_of(const textgrid::Result<TextGrid>& grid) {
  if (!grid) {
    std::fprintf(stderr, "read failed: %s\n", grid.error().message.c_str());
    std::exit(1);
  }
  std::size_t n = 0;
  for (const auto& tier : grid->tiers) n += tier.items.size();
  return n;
}

void report(const char* what, const char* a_name, const char* b_name, std::pair<double, double> t) {
  std::printf("%-10s %-14s %9.2f ms   %-14s %9.2f ms   ratio %.2f\n", what, a_name, t.first, b_name,
              t.second, t.first / t.second);
}

}  // namespace

int main(int argc, char** argv) {
  // Another size per tier as the only argument (for a quick run or a check).
  const int intervals = argc > 1 ? std::atoi(argv[1]) : 100000;
  const TextGrid grid = make_grid(intervals > 0 ? intervals : 100000);
  const std::string texts[] = {grid.to_long_textgrid_string(), grid.to_short_textgrid_string(),
                               chronological_text(grid), binary_bytes(grid)};
  const char* names[] = {"long", "short", "chronological", "binary"};
  std::string paths[4];
  for (int k = 0; k < 4; ++k) {
    paths[k] = std::string("/tmp/plinth_bench_layouts_") + names[k] + ".TextGrid";
    std::ofstream(paths[k], std::ios::binary) << texts[k];
    std::printf("%-14s %8.2f MB\n", names[k], static_cast<double>(texts[k].size()) / 1e6);
  }
  const int runs = 11;
  report("parse", "binary", "long",
         race([&] { return items_of(textgrid::parse_binary(texts[3], "b", {.strict = true})); },
              [&] { return items_of(textgrid::parse_long(texts[0], "b", true)); }, runs));
  report("parse", "chronological", "short",
         race([&] { return items_of(textgrid::parse_chronological(texts[2], "b", true)); },
              [&] { return items_of(textgrid::parse_short(texts[1], "b", true)); }, runs));
  report("file", "binary", "long",
         race([&] { return items_of(textgrid::read_from_file(paths[3], true, "auto")); },
              [&] { return items_of(textgrid::read_from_file(paths[0], true, "auto")); }, runs));
  report("file", "chronological", "short",
         race([&] { return items_of(textgrid::read_from_file(paths[2], true, "auto")); },
              [&] { return items_of(textgrid::read_from_file(paths[1], true, "auto")); }, runs));
  if (!std::getenv("PLINTH_BENCH_KEEP")) {
    for (const auto& path : paths) std::remove(path.c_str());
  }
  return 0;
}
