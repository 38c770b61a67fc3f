#include "read/read.hpp"

#include <utility>

#include "formats/parser_binary.hpp"
#include "formats/parser_chronological.hpp"
#include "formats/parser_long.hpp"
#include "formats/parser_short.hpp"
#include "text/text_input.hpp"
#include "text/text_rules.hpp"

namespace textgrid {

namespace {

Result<TextGridView> parse_bytes(std::string bytes, std::string name, const ReadOptions& options) {
  if (is_binary_file(bytes)) {
    auto grid = parse_binary(bytes, std::move(name), options);
    if (!grid) return std::unexpected(std::move(grid.error()));
    return view_of(*grid);
  }
  auto text = decode_text(std::move(bytes), options);
  if (!text) return std::unexpected(std::move(text.error()));
  if (is_chronological_text(*text)) {
    return parse_chronological_view(std::move(*text), std::move(name), options);
  }
  if (has_long_layout_marker(*text) || has_long_layout_header(*text)) {
    return parse_long_view(std::move(*text), std::move(name), options);
  }
  // A text in neither layout's marked form is short, unless it turns out to
  // be in Praat's free text form.
  return parse_short_or_stream_view(std::move(*text), std::move(name), options);
}

Result<TextGrid> as_textgrid(Result<TextGridView> view) {
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace

Result<TextGridView> read_file(const std::string& path, const ReadOptions& options) {
  if (options.file_type == FileType::Auto) {
    // The bytes read for the decision go straight to the chosen reader: the
    // result is the same as reading the file again, without the second read.
    // A binary file is no text, so it is told apart before any decoding.
    auto bytes = read_file_bytes(path, options);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return parse_bytes(std::move(*bytes), file_stem(path), options);
  }
  auto text = read_text_file(path, options);
  if (!text) return std::unexpected(std::move(text.error()));
  if (options.file_type == FileType::Long) {
    return parse_long_view(std::move(*text), file_stem(path), options);
  }
  return parse_short_view(std::move(*text), file_stem(path), options);
}

Result<TextGrid> read_from_file(const std::string& path, bool strict, std::string_view file_type) {
  const std::optional<FileType> layout = parse_file_type(file_type);
  if (!layout) return std::unexpected(unknown_file_type(file_type));
  return as_textgrid(read_file(path, {.file_type = *layout, .strict = strict}));
}

Result<TextGrid> read_from_file_long(const std::string& path, bool strict) {
  return as_textgrid(read_file(path, {.file_type = FileType::Long, .strict = strict}));
}

Result<TextGrid> read_from_file_short(const std::string& path, bool strict) {
  return as_textgrid(read_file(path, {.file_type = FileType::Short, .strict = strict}));
}

}  // namespace textgrid
