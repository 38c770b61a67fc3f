// The reader of Praat's long text layout: one "key = value" per line, tiers
// and items opened by numbered headings.
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// Reads `text` (UTF-8, as read_text_file yields it) in the long layout into a
// view called `name` that owns the text (see textgrid_view.hpp). One pass;
// allocates per tier, never per item; any bytes are safe to hand it. With
// `options.strict`, the finished TextGrid must pass its document check; with
// `options.may_split`, a large text is read as two stretches on the pool.
Result<TextGridView> parse_long_view(std::string text, std::string name,
                                     const ReadOptions& options);

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
