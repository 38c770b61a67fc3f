#include "lib.hpp"

#include <utility>

#include "parser_binary.hpp"
#include "parser_chronological.hpp"
#include "parser_long.hpp"
#include "parser_short.hpp"
#include "text_rules.hpp"

namespace textgrid {

Result<TextGrid> read_from_file(const std::string& path, bool strict, std::string_view file_type,
                                const ShouldStop& should_stop) {
  if (file_type == "long") return read_from_file_long(path, strict, should_stop);
  if (file_type == "short") return read_from_file_short(path, strict, should_stop);
  if (file_type == "auto") {
    // The bytes read for the decision go straight to the chosen reader: the
    // result is the same as reading the file again, without the second read.
    // A binary file is no text, so it is told apart before any decoding.
    auto bytes = read_file_bytes(path, should_stop);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    if (is_binary_file(*bytes)) return parse_binary(*bytes, file_stem(path), strict);
    auto text = decode_text(std::move(*bytes));
    if (!text) return std::unexpected(std::move(text.error()));
    if (is_chronological_text(*text)) return parse_chronological(*text, file_stem(path), strict);
    if (has_long_layout_marker(*text)) return parse_long(*text, file_stem(path), strict);
    return parse_short(*text, file_stem(path), strict);
  }
  return fail(ErrorKind::InvalidInput, "Unknown file type: " + std::string(file_type));
}

}  // namespace textgrid
