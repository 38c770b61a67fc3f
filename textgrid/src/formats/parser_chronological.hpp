// The reader of Praat's chronological text layout: the tiers declared up
// front, then every interval and point of every tier in time order, each
// naming its tier by number. Values are blank-separated tokens; "!" starts a
// comment that runs to the end of its line.
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// The first line of the layout, quotes included.
inline constexpr std::string_view kChronologicalHeader =
    "\"Praat chronological TextGrid text file\"";

// Returns whether the first line of `text` (UTF-8, as read_text_file yields
// it, after a UTF-8 byte-order mark if any) is kChronologicalHeader, blanks
// at its end aside. No allocation.
bool is_chronological_text(std::string_view text);

// Reads `text` (UTF-8, as read_text_file yields it) in the chronological
// layout into a view called `name` that owns the text (textgrid_view.hpp);
// labels are views into it, collapsed in place; allocates per tier and per
// file, not per item. Items go to their tier in file order;
// a tier's declared size is the number of its items. Fails, naming the line,
// on a tier number out of range or a file that ends inside a record. Never
// reads out of bounds, whatever the bytes. With `options.strict`, the
// finished TextGrid must pass its document check.
Result<TextGridView> parse_chronological_view(std::string text, std::string name,
                                              const ReadOptions& options);

// parse_chronological_view, then the owning TextGrid (a copy of the text
// first).
Result<TextGrid> parse_chronological(std::string_view text, std::string name, bool strict);

}  // namespace textgrid
