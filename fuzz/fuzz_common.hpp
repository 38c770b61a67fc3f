// What the fuzz targets share: a check that stops the run loudly (so that the
// fuzzer keeps the input), comparison of two TextGrids record by record, and
// a file in memory for the entry points that take a path.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "model/converter.hpp"
#include "model/textgrid.hpp"

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

namespace plinth_fuzz {

// Whether two times are the same 64-bit value, or both not a number.
inline bool same_time(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  std::uint64_t x, y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

inline void report(const char* what, std::size_t tier, std::size_t item) {
  std::fprintf(stderr, "records differ: %s (tier %zu, item %zu)\n", what, tier, item);
}

// Whether `back`, read from what the writer made of `original`, holds the
// same records: bounds, tier names and classes, item times and labels. A
// point keeps its time only (the layouts write one), and the declared sizes
// of `back` are the real counts. Prints the first difference.
inline bool same_records(const textgrid::TextGrid& original, const textgrid::TextGrid& back) {
  if (!same_time(original.tmin, back.tmin) || !same_time(original.tmax, back.tmax)) {
    report("TextGrid bounds", 0, 0);
    return false;
  }
  if (original.tiers.size() != back.tiers.size() || back.size != back.tiers.size()) {
    report("tier count", 0, 0);
    return false;
  }
  for (std::size_t t = 0; t < original.tiers.size(); ++t) {
    const textgrid::Tier& a = original.tiers[t];
    const textgrid::Tier& b = back.tiers[t];
    if (a.name != b.name) return report("tier name", t, 0), false;
    if (a.is_interval != b.is_interval) return report("tier class", t, 0), false;
    if (!same_time(a.tmin, b.tmin) || !same_time(a.tmax, b.tmax)) {
      return report("tier bounds", t, 0), false;
    }
    if (a.items.size() != b.items.size() || b.size != b.items.size()) {
      return report("item count", t, 0), false;
    }
    for (std::size_t i = 0; i < a.items.size(); ++i) {
      const textgrid::Item& x = a.items[i];
      const textgrid::Item& y = b.items[i];
      const double expected_end = a.is_interval ? x.tmax : x.tmin;
      if (!same_time(x.tmin, y.tmin) || !same_time(expected_end, y.tmax)) {
        return report("item times", t, i), false;
      }
      if (x.text != y.text) return report("item text", t, i), false;
    }
  }
  return true;
}

// Whether two reads gave the same result: both failed with the same message,
// or both succeeded with the same records, names and declared sizes.
template <class R>
bool same_result(const R& a, const R& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return a.error().message == b.error().message;
  if (a->name != b->name || a->size != b->size || a->tiers.size() != b->tiers.size()) {
    return false;
  }
  if (!same_time(a->tmin, b->tmin) || !same_time(a->tmax, b->tmax)) return false;
  for (std::size_t t = 0; t < a->tiers.size(); ++t) {
    const textgrid::Tier& x = a->tiers[t];
    const textgrid::Tier& y = b->tiers[t];
    if (x.name != y.name || x.is_interval != y.is_interval || x.size != y.size ||
        x.items.size() != y.items.size() || !same_time(x.tmin, y.tmin) ||
        !same_time(x.tmax, y.tmax)) {
      return false;
    }
    for (std::size_t i = 0; i < x.items.size(); ++i) {
      if (!same_time(x.items[i].tmin, y.items[i].tmin) ||
          !same_time(x.items[i].tmax, y.items[i].tmax) || x.items[i].text != y.items[i].text) {
        return false;
      }
    }
  }
  return true;
}

// The heap bytes that a read holds beyond the input: its model, and the
// column and structured forms made from it. Each must stay within a small
// multiple of the input's size, whatever counts or names the input declares:
// an item costs 48 bytes and needs at least two bytes of text, a tier 88 and
// seven, with a vector's doubling on top.
inline constexpr std::size_t kHeldPerInputByte = 64;
inline constexpr std::size_t kHeldSlack = 4096;

inline std::size_t heap_bytes(const std::string& s) {
  return s.capacity() > std::string().capacity() ? s.capacity() + 1 : 0;
}

inline std::size_t held_bytes(const textgrid::TextGrid& grid) {
  std::size_t held = heap_bytes(grid.name) + grid.tiers.capacity() * sizeof(textgrid::Tier);
  for (const textgrid::Tier& tier : grid.tiers) {
    held += heap_bytes(tier.name) + tier.items.capacity() * sizeof(textgrid::Item);
    for (const textgrid::Item& item : tier.items) held += heap_bytes(item.text);
  }
  return held;
}

inline std::size_t held_bytes(const textgrid::TextGridVectors& v) {
  std::size_t held = (v.tmins.capacity() + v.tmaxs.capacity()) * sizeof(double) +
                     v.labels.capacity() * sizeof(std::string) +
                     v.tier_of.capacity() * sizeof(std::size_t) +
                     v.tier_names.capacity() * sizeof(std::string) + v.is_intervals.capacity();
  for (const std::string& label : v.labels) held += heap_bytes(label);
  for (const std::string& name : v.tier_names) held += heap_bytes(name);
  return held;
}

inline std::size_t held_bytes(const textgrid::TextGridData& data) {
  std::size_t held = data.tiers.capacity() * sizeof(textgrid::TierData);
  for (const textgrid::TierData& tier : data.tiers) {
    held += heap_bytes(tier.name) + tier.items.capacity() * sizeof(textgrid::ItemData);
    for (const textgrid::ItemData& item : tier.items) held += heap_bytes(item.label);
  }
  return held;
}

// Checks the bound for a read of `input_size` bytes and the forms made from it.
inline void check_memory_bound(const textgrid::TextGrid& grid, std::size_t input_size) {
  const std::size_t bound = kHeldPerInputByte * input_size + kHeldSlack;
  FUZZ_CHECK(held_bytes(grid) <= bound);
  FUZZ_CHECK(held_bytes(grid.to_vectors()) <= bound);
  FUZZ_CHECK(held_bytes(grid.to_data()) <= bound);
}

// An anonymous file in memory, reachable by a path, refilled for every input.
class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("fuzz", MFD_CLOEXEC)) {
    FUZZ_CHECK(fd_ >= 0);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Makes the file hold exactly `bytes`; returns its path.
  const std::string& fill(std::string_view bytes) {
    FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t wrote =
          ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      FUZZ_CHECK(wrote > 0);
      done += static_cast<std::size_t>(wrote);
    }
    return path_;
  }

 private:
  int fd_;
  std::string path_;
};

// `text` with old Mac line ends, each line feed a carriage return; empty when
// the text has carriage returns or quotes of its own, whose bytes would then
// differ between the two and not only its line ends.
inline std::string with_cr_line_ends(std::string_view text) {
  if (text.find_first_of("\r\"") != std::string_view::npos) return {};
  std::string out(text);
  for (char& c : out) {
    if (c == '\n') c = '\r';
  }
  return out;
}

}  // namespace plinth_fuzz
