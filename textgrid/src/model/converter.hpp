// The structured-data and vector forms of a TextGrid, and the constructors
// that build a validated TextGrid from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "model/textgrid.hpp"

namespace textgrid {

// One byte per flag (0 or 1), so the column can be handed to NumPy as bool
// without a copy; never std::vector<bool>, which packs bits.
using Flag = std::uint8_t;

struct ItemData {
  double tmin = 0.0;
  double tmax = 0.0;
  std::string label;
};

struct TierData {
  std::string name;
  bool is_interval = true;
  std::vector<ItemData> items;
};

struct TextGridData {
  double tmin = 0.0;
  double tmax = 0.0;
  std::vector<TierData> tiers;
};

// The column form: one entry per item in tmins, tmaxs, labels, tier_of and
// is_intervals. An entry names its tier by position in tier_names, so a name
// is stored once per tier however many entries it has (a long name times many
// items would otherwise outgrow the file many times over).
struct TextGridVectors {
  std::vector<double> tmins;
  std::vector<double> tmaxs;
  std::vector<std::string> labels;
  std::vector<std::size_t> tier_of;     // per entry: an index into tier_names
  std::vector<std::string> tier_names;  // per tier (or per run of one name)
  std::vector<Flag> is_intervals;

  // The name of entry i.
  const std::string& tier_name(std::size_t i) const { return tier_names[tier_of[i]]; }
};

// The name make_textgrid gives a TextGrid when its caller gives none.
inline constexpr const char* kDefaultTextGridName = "ConvertedTextGrid";

// Takes over `tiers`; completes missing global bounds from the tiers (minNum /
// maxNum folds), sets size and runs the document check. Returns the TextGrid
// or the first validation failure. Calling thread only.
Result<TextGrid> make_textgrid(std::vector<Tier> tiers, std::optional<std::string> name,
                               std::optional<double> tmin, std::optional<double> tmax);

// Consumes `tiers` (labels and names are moved); leaves out tiers without
// items; tier bounds from the given global bounds or from the items; ends in
// make_textgrid. Large tiers are converted on the pool.
Result<TextGrid> from_data(std::vector<TierData> tiers, std::optional<std::string> name,
                           std::optional<double> tmin, std::optional<double> tmax);

// Consumes the columns; fails with "Input vectors must have the same length"
// (InvalidInput) first, and with "Tier index out of range" (InvalidInput)
// when an entry names no tier; groups by exact tier name (not by index) in
// first-appearance order, sorts each tier stably by tmin, ends in
// make_textgrid. Calling thread only.
Result<TextGrid> from_vectors(TextGridVectors columns, std::optional<double> tmin,
                              std::optional<double> tmax, std::optional<std::string> name);

// Orders a tier's items stably by start. A NaN start has no place in that
// order: it fails (InvalidData) naming the tier and the item's index among
// the tier's items as given, from 0. Calling thread only.
Status sort_by_start(std::vector<Item>& items, const std::string& tier_name);

// Makes an interval tier contiguous from its start to its end, as Praat keeps
// one: every gap before, between and after its items (sorted) becomes an
// empty interval, and a tier without items one empty interval over its
// bounds; sets size. Overlaps are left for the validation to report.
void fill_gaps_of(Tier& tier);

}  // namespace textgrid
