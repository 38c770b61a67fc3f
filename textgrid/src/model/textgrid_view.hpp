// The reader's view of a TextGrid: the records of textgrid.hpp with every
// tier name and item label a view into the file's text, which the view owns.
// This is what the readers build; the owning TextGrid is made from it only
// for callers that want one (to_textgrid).
//
// The contract, for whoever builds values from a view:
// - Every std::string_view in a TextGridView (tier names, item texts) points
//   into `text`, which the TextGridView owns; they stay valid for as long as
//   the TextGridView lives, moves included (the text sits behind a pointer).
//   A TextGridView cannot be copied.
// - A label that needed unescaping (doubled quotes) was collapsed in place in
//   `text`: every view is the final text, nothing is left to undo.
// - When the text came from read_text_file (or read_file), every
//   view is valid UTF-8, as the whole text was: views are cut at ASCII bytes
//   or whole White_Space characters, and collapsing removes ASCII quotes only.
// - Items of a tier lie contiguously in `items`, in file order. Building a
//   view allocates per tier and per file, never per item.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "model/textgrid.hpp"

namespace textgrid {

struct ItemView {
  double tmin = 0.0;
  double tmax = 0.0;  // equal to tmin for a point
  std::string_view text;
};

struct TierView {
  std::string_view name;
  bool is_interval = true;
  double tmin = 0.0;
  double tmax = 0.0;
  std::uint64_t size = 0;  // declared item count; only validation reads it
  std::vector<ItemView> items;

  // Tier::assert_valid's checks and messages, in its order. Pure.
  Status assert_valid() const;
};

struct TextGridView {
  // The text every view points into; never null in a view a reader returns.
  std::unique_ptr<std::string> text;
  std::string name;  // informational, as TextGrid::name
  double tmin = 0.0;
  double tmax = 0.0;
  std::uint64_t size = 0;  // declared tier count; only validation reads it
  std::vector<TierView> tiers;

  // TextGrid::assert_valid's checks and messages, in its order. Pure.
  Status assert_valid() const;

  // Returns the owning TextGrid: names and labels copied. Allocates.
  TextGrid to_textgrid() const;
};

// Returns a view of `grid` whose text holds every tier name and label one
// after the other: the view for readers that build the owning TextGrid
// themselves. One text sized up front; allocates per file and per tier.
TextGridView view_of(const TextGrid& grid);

}  // namespace textgrid
