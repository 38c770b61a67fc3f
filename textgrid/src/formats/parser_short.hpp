// The reader of Praat's short text layout: bare values, one per line, at
// positions that follow from the counts read before them.
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// Reads `text` (UTF-8, as read_text_file yields it) in the short layout into
// a view called `name` that owns the text (see textgrid_view.hpp); fails,
// naming the line, when a value's line lies past the end. Never reads out of
// bounds, whatever the bytes. Allocates per tier, never per item. With
// `options.strict`, the finished TextGrid must pass its document check.
Result<TextGridView> parse_short_view(std::string text, std::string name,
                                      const ReadOptions& options);

// parse_short_view as "auto" reads a text without another layout's marks: a
// text whose first line is Praat's ("ooTextFile" in quotes) and another line
// of which, past the second, holds more than one value or a "!" comment,
// where the short layout has one value a line, is Praat's free text form and
// goes, unchanged, to parse_stream_view instead.
Result<TextGridView> parse_short_or_stream_view(std::string text, std::string name,
                                                const ReadOptions& options);

// parse_short_view, then the owning TextGrid (a copy of the text first).
Result<TextGrid> parse_short(std::string_view text, std::string name, bool strict);

}  // namespace textgrid
