#include "lib.hpp"

#include <utility>

#include "parser_long.hpp"
#include "parser_short.hpp"
#include "text_rules.hpp"

namespace textgrid {

Result<TextGrid> read_from_file(const std::string& path, bool strict, std::string_view file_type,
                                const ShouldStop& should_stop) {
  if (file_type == "long") return read_from_file_long(path, strict, should_stop);
  if (file_type == "short") return read_from_file_short(path, strict, should_stop);
  if (file_type == "auto") {
    // The text read for the decision goes straight to the chosen reader: the
    // result is the same as reading the file again, without the second read.
    auto text = read_text_file(path, should_stop);
    if (!text) return std::unexpected(std::move(text.error()));
    if (has_long_layout_marker(*text)) return parse_long(*text, file_stem(path), strict);
    return parse_short(*text, file_stem(path), strict);
  }
  return fail(ErrorKind::InvalidInput, "Unknown file type: " + std::string(file_type));
}

}  // namespace textgrid
