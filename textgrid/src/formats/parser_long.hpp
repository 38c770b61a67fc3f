// The reader of Praat's long text layout: one "key = value" per line, tiers
// and items opened by numbered headings.
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/interrupt.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// Reads the file at `path` in the long layout, named after the file's stem;
// with `strict`, the finished TextGrid must pass its document check. Keeps no
// state; safe on worker threads.
// `should_stop` as for read_text_file.
Result<TextGrid> read_from_file_long(const std::string& path, bool strict,
                                     const ShouldStop& should_stop = {});

// Reads `text` (UTF-8, as read_text_file yields it) in the long layout into a
// view called `name` that owns the text (see textgrid_view.hpp). One pass;
// allocates per tier, never per item; any bytes are safe to hand it.
Result<TextGridView> parse_long_view(std::string text, std::string name, bool strict);

namespace detail {
// parse_long_view with a text of any size read as two stretches side by
// side, the second from offset `split` when a line begins there with an item
// heading, else in one: the test hook of how large texts are read.
Result<TextGridView> parse_long_view_in_two(std::string text, std::string name, bool strict,
                                            std::size_t split);
}  // namespace detail

// parse_long_view, then the owning TextGrid (a copy of the text first).
Result<TextGrid> parse_long(std::string_view text, std::string name, bool strict);

}  // namespace textgrid
