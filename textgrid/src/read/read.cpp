#include "read/read.hpp"

#include <utility>

#include "formats/parser_binary.hpp"
#include "formats/parser_chronological.hpp"
#include "formats/parser_long.hpp"
#include "formats/parser_short.hpp"
#include "text/text_rules.hpp"

namespace textgrid {

namespace {

// ShortOrStream: the short reader, or the free text form's when the text
// turns out to be in it (parse_short_or_stream_view).
enum class Layout { Long, Short, ShortOrStream, Chronological, Binary };

// A file read whole, and the layout its reader is chosen for: the text, or
// the bytes as stored for the binary layout.
struct Input {
  Layout layout;
  std::string bytes;
};

Result<Input> read_input(const std::string& path, std::string_view file_type,
                         const ShouldStop& should_stop) {
  if (file_type == "long" || file_type == "short") {
    auto text = read_text_file(path, should_stop);
    if (!text) return std::unexpected(std::move(text.error()));
    return Input{file_type == "long" ? Layout::Long : Layout::Short, std::move(*text)};
  }
  if (file_type != "auto") {
    return fail(ErrorKind::InvalidInput, "Unknown file type: " + std::string(file_type));
  }
  // The bytes read for the decision go straight to the chosen reader: the
  // result is the same as reading the file again, without the second read.
  // A binary file is no text, so it is told apart before any decoding.
  auto bytes = read_file_bytes(path, should_stop);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (is_binary_file(*bytes)) return Input{Layout::Binary, std::move(*bytes)};
  auto text = decode_text(std::move(*bytes));
  if (!text) return std::unexpected(std::move(text.error()));
  if (is_chronological_text(*text)) return Input{Layout::Chronological, std::move(*text)};
  if (has_long_layout_marker(*text) || has_long_layout_header(*text)) {
    return Input{Layout::Long, std::move(*text)};
  }
  return Input{Layout::ShortOrStream, std::move(*text)};
}

Result<TextGridView> as_view(Result<TextGrid> grid) {
  if (!grid) return std::unexpected(std::move(grid.error()));
  return view_of(*grid);
}

Result<TextGrid> as_textgrid(Result<TextGridView> view) {
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace

Result<TextGridView> read_view_from_file(const std::string& path, bool strict,
                                         std::string_view file_type,
                                         const ShouldStop& should_stop) {
  auto input = read_input(path, file_type, should_stop);
  if (!input) return std::unexpected(std::move(input.error()));
  std::string& bytes = input->bytes;
  switch (input->layout) {
    case Layout::Long: return parse_long_view(std::move(bytes), file_stem(path), strict);
    case Layout::Short: return parse_short_view(std::move(bytes), file_stem(path), strict);
    case Layout::ShortOrStream:
      return parse_short_or_stream_view(std::move(bytes), file_stem(path), strict);
    case Layout::Chronological:
      return parse_chronological_view(std::move(bytes), file_stem(path), strict);
    case Layout::Binary: return as_view(parse_binary(bytes, file_stem(path), strict));
  }
  return fail(ErrorKind::InvalidInput, "Unknown file type: " + std::string(file_type));
}

Result<TextGrid> read_from_file(const std::string& path, bool strict, std::string_view file_type,
                                const ShouldStop& should_stop) {
  auto input = read_input(path, file_type, should_stop);
  if (!input) return std::unexpected(std::move(input.error()));
  std::string& bytes = input->bytes;
  switch (input->layout) {
    case Layout::Long:
      return as_textgrid(parse_long_view(std::move(bytes), file_stem(path), strict));
    case Layout::Short:
      return as_textgrid(parse_short_view(std::move(bytes), file_stem(path), strict));
    case Layout::ShortOrStream:
      return as_textgrid(parse_short_or_stream_view(std::move(bytes), file_stem(path), strict));
    case Layout::Chronological:
      return as_textgrid(parse_chronological_view(std::move(bytes), file_stem(path), strict));
    case Layout::Binary: return parse_binary(bytes, file_stem(path), strict);
  }
  return fail(ErrorKind::InvalidInput, "Unknown file type: " + std::string(file_type));
}

}  // namespace textgrid
