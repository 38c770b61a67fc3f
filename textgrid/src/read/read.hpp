// Reading one TextGrid file: the one read of a path, with the reader that its
// options or its bytes choose, and the owning forms of it that callers name.
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// Reads `path` with the long reader (FileType::Long), the short reader
// (Short) or (Auto) the reader that the file calls for: the binary one for a
// file that begins with "ooBinaryFile", the chronological one for a text
// whose first line is Praat's chronological header, else the long one when a
// line begins with the tier-list marker "item []" and the short one
// otherwise. Returns a view whose names and labels point into the file's
// text, which the view owns (textgrid_view.hpp): no allocation per item in
// the text layouts; the binary reader's TextGrid comes as its view_of. Keeps
// no state; safe on worker threads. A file that waits for data asks
// `options.should_stop` (see read_text_file).
Result<TextGridView> read_file(const std::string& path, const ReadOptions& options);

// read_file by layout word ("auto", "long" or "short", byte for byte), as an
// owning TextGrid. Any other word fails with "Unknown file type: <word>" and
// opens nothing.
Result<TextGrid> read_from_file(const std::string& path, bool strict, std::string_view file_type);

// read_file with the long, or the short, reader, as an owning TextGrid.
Result<TextGrid> read_from_file_long(const std::string& path, bool strict);
Result<TextGrid> read_from_file_short(const std::string& path, bool strict);

}  // namespace textgrid
