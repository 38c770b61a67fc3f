// The two written layouts of a TextGrid (the operations themselves are
// methods of TextGrid and Tier, declared in textgrid.hpp) and the text rule
// they share.
#pragma once

#include <string>
#include <string_view>

namespace textgrid {

// Appends `text` to `out` with every double quote doubled, as Praat writes
// quoted texts; nothing else is altered. Safe on any thread.
void append_quoted_body(std::string& out, std::string_view text);

}  // namespace textgrid
