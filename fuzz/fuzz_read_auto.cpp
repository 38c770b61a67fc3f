// The whole read by path with "auto" on any bytes (the binary magic, UTF-8
// and UTF-16 checks, the chronological header, the layout marker and header,
// the free text form, all five readers): no crash, and the same result as
// calling the reader chosen.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/parser_binary.hpp"
#include "formats/parser_chronological.hpp"
#include "formats/parser_short.hpp"
#include "fuzz_common.hpp"
#include "read/read.hpp"
#include "text/text_input.hpp"
#include "text/text_rules.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static plinth_fuzz::MemoryFile file;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string& path = file.fill(bytes);
  const auto decoded = textgrid::decode_text(bytes);
  for (const bool strict : {false, true}) {
    const auto chosen = textgrid::read_from_file(path, strict, "auto");
    if (textgrid::is_binary_file(bytes)) {
      FUZZ_CHECK(plinth_fuzz::same_result(
          chosen, textgrid::parse_binary(bytes, textgrid::file_stem(path), {.strict = strict})));
      continue;
    }
    if (!decoded) {
      FUZZ_CHECK(!chosen && chosen.error().message == decoded.error().message);
      continue;
    }
    if (textgrid::is_chronological_text(*decoded)) {
      FUZZ_CHECK(plinth_fuzz::same_result(
          chosen, textgrid::parse_chronological(*decoded, textgrid::file_stem(path), strict)));
      continue;
    }
    if (textgrid::has_long_layout_marker(*decoded) || textgrid::has_long_layout_header(*decoded)) {
      FUZZ_CHECK(plinth_fuzz::same_result(chosen, textgrid::read_from_file(path, strict, "long")));
      continue;
    }
    // The short reader, or the free text form's for a text in that form.
    auto view = textgrid::parse_short_or_stream_view(*decoded, textgrid::file_stem(path),
                                                     {.strict = strict});
    const auto read = view ? textgrid::Result<textgrid::TextGrid>(view->to_textgrid())
                           : std::unexpected(view.error());
    FUZZ_CHECK(plinth_fuzz::same_result(chosen, read));
  }
  return 0;
}
