// The long reader on any bytes: no crash, no read out of bounds, a strict read
// that succeeds gives what the lenient read gives, what the read holds stays
// within a small multiple of the input, and a read in two stretches (as of a
// large file) from an item heading after the first line break past the
// middle gives the read in one; with lone carriage returns for line feeds, a
// text without quotes and carriage returns of its own reads alike.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/parser_long.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lenient = textgrid::parse_long(text, "fuzz", false);
  const auto strict = textgrid::parse_long(text, "fuzz", true);
  if (strict) FUZZ_CHECK(plinth_fuzz::same_result(strict, lenient));
  if (lenient) plinth_fuzz::check_memory_bound(*lenient, size);
  // Lone carriage returns end lines as line feeds do.
  if (const std::string cr = plinth_fuzz::with_cr_line_ends(text); !cr.empty()) {
    FUZZ_CHECK(plinth_fuzz::same_result(textgrid::parse_long(cr, "fuzz", false), lenient));
  }
  const std::size_t newline = text.find('\n', size / 2);
  if (newline != std::string_view::npos) {
    auto in_two =
        textgrid::detail::parse_long_view_in_two(std::string(text), "fuzz", false, newline + 1);
    const auto split = in_two ? textgrid::Result<textgrid::TextGrid>(in_two->to_textgrid())
                              : std::unexpected(in_two.error());
    FUZZ_CHECK(plinth_fuzz::same_result(split, lenient));
  }
  return 0;
}
