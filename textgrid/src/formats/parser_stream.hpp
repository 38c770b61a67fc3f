// The reader of Praat's free text form, the one its manual teaches: the
// values of a TextGrid in their fixed order, separated by blanks and line
// breaks, several on a line if the writer likes, each found by skipping the
// words before it ("xmin =", "2 intervals coming"), with "!" comments:
//
//   "ooTextFile"
//   "TextGrid"
//   0 2.3 ! time domain of TextGrid
//   <exists> 1 tier
//   "IntervalTier" "Mary" 0 2.3 1 interval coming
//   0 2.3 "hello"
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// Reads `text` (UTF-8, as read_text_file yields it) as Praat's stream of
// values into a view called `name` that owns the text (textgrid_view.hpp):
// the first line is the file type; then the object class, the time domain,
// "<exists>" (or "<absent>": no tiers), the tier count, and each tier's
// class, name, time domain, item count and items. Where a number is due,
// words that cannot begin one are passed over and a number is read from as
// much of its token as is one ("1.5abc" is 1.5); where a text is due, words
// are passed over likewise. A text or "<...>" where a number is due, a number
// where a text is due, and the end of the file before the last value fail,
// naming the line. Allocates per tier and per file, not per item; never
// reads out of bounds, whatever the bytes.
Result<TextGridView> parse_stream_view(std::string text, std::string name,
                                       const ReadOptions& options);

// parse_stream_view, then the owning TextGrid (a copy of the text first).
Result<TextGrid> parse_stream(std::string_view text, std::string name, bool strict);

}  // namespace textgrid
