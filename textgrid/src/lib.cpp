#include "lib.hpp"

#include <utility>

#include "parser_long.hpp"
#include "parser_short.hpp"
#include "text_rules.hpp"

namespace textgrid {

Result<TextGridView> read_view_from_file(const std::string& path, bool strict,
                                         std::string_view file_type) {
  const bool is_long = file_type == "long";
  if (!is_long && file_type != "short" && file_type != "auto") {
    return fail(ErrorKind::InvalidInput, "Unknown file type: " + std::string(file_type));
  }
  auto text = read_text_file(path);
  if (!text) return std::unexpected(std::move(text.error()));
  // In "auto" the text read for the decision goes straight to the chosen
  // reader: the result is the same as reading the file again.
  if (is_long || (file_type == "auto" && has_long_layout_marker(*text))) {
    return parse_long_view(std::move(*text), file_stem(path), strict);
  }
  return parse_short_view(std::move(*text), file_stem(path), strict);
}

Result<TextGrid> read_from_file(const std::string& path, bool strict, std::string_view file_type) {
  auto view = read_view_from_file(path, strict, file_type);
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
