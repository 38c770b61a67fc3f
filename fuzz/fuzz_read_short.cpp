// The short reader on any bytes: no crash, no read out of bounds, a strict read
// that succeeds gives what the lenient read gives, and what the read holds
// stays within a small multiple of the input; with lone carriage returns for
// line feeds, a text without quotes and carriage returns of its own reads
// alike.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/parser_short.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lenient = textgrid::parse_short(text, "fuzz", false);
  const auto strict = textgrid::parse_short(text, "fuzz", true);
  if (strict) FUZZ_CHECK(plinth_fuzz::same_result(strict, lenient));
  if (lenient) plinth_fuzz::check_memory_bound(*lenient, size);
  // Lone carriage returns end lines as line feeds do.
  if (const std::string cr = plinth_fuzz::with_cr_line_ends(text); !cr.empty()) {
    FUZZ_CHECK(plinth_fuzz::same_result(textgrid::parse_short(cr, "fuzz", false), lenient));
  }
  return 0;
}
