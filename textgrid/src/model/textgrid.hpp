// The annotation records, plain values: a TextGrid owns its tiers, a Tier its
// items; nothing is shared, nothing is mutated on read, so worker threads may
// read one tier's items at once. Their validation rules, which the reader's
// view shares, are in checks.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/interrupt.hpp"
#include "model/checks.hpp"

namespace textgrid {

struct TextGridData;
struct TextGridVectors;

struct Item {
  double tmin = 0.0;
  double tmax = 0.0;  // equal to tmin for a point
  std::string text;
};

struct Tier {
  std::string name;
  bool is_interval = true;
  double tmin = 0.0;
  double tmax = 0.0;
  std::uint64_t size = 0;  // declared item count; only validation reads it
  std::vector<Item> items;

  // Checks the declared size, the tier's bounds, then every item in order;
  // returns the first failure (kind InvalidData). Pure; calling thread only.
  Status assert_valid() const;

  // Returns this tier's part of the long layout; `position` counts from 0 and
  // is written plus one. Item texts may be built on the pool. Allocates.
  std::string to_long_textgrid_string(std::size_t position) const;

  // Returns this tier's part of the short layout. Item texts may be built on
  // the pool. Allocates.
  std::string to_short_textgrid_string() const;
};

struct TextGrid {
  std::string name;  // informational, never written nor returned to Python
  double tmin = 0.0;
  double tmax = 0.0;
  std::uint64_t size = 0;  // declared tier count; only validation reads it
  std::vector<Tier> tiers;

  // The document check: declared size, then the bounds ("TextGrid"), then
  // every tier in order; returns the first failure. Pure; calling thread only.
  Status assert_valid() const;

  // Returns the whole document in the long layout (CR LF lines). Allocates.
  std::string to_long_textgrid_string() const;

  // Returns the whole document in the short layout (CR LF lines). Allocates.
  std::string to_short_textgrid_string() const;

  // Builds the text in the long layout when `long_layout`, else the short one,
  // and stores it at `path` by store_file: a regular file is replaced whole
  // or not at all. Returns the operating-system error on failure. Allocates.
  Status save_textgrid(const std::string& path, bool long_layout,
                       const ShouldStop& should_stop = {}) const;

  // Returns the structured-data form; names and labels are copied, large
  // tiers on the pool unless `use_pool` is false (a caller that already runs
  // on the pool, one file of many). Cannot fail.
  TextGridData to_data(bool use_pool = true) const;

  // Returns the columns, one entry per item, tiers in order; labels are
  // copied, a tier's name once. Calling thread only. Cannot fail.
  TextGridVectors to_vectors() const;
};

}  // namespace textgrid
