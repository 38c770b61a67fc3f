// The reader of Praat's free text form on any bytes, as they come and after
// the first two lines of a Praat text file (so that every input reaches the
// values): no crash, no read out of bounds, a strict read that succeeds gives
// what the lenient read gives, what the read holds stays within a small
// multiple of the input, and lone carriage returns end lines as line feeds do.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/parser_stream.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string headed = "\"ooTextFile\"\n\"TextGrid\"\n" + std::string(bytes);
  for (const std::string_view text : {bytes, std::string_view(headed)}) {
    const auto lenient = textgrid::parse_stream(text, "fuzz", false);
    const auto strict = textgrid::parse_stream(text, "fuzz", true);
    if (strict) FUZZ_CHECK(plinth_fuzz::same_result(strict, lenient));
    if (lenient) plinth_fuzz::check_memory_bound(*lenient, text.size());
    if (const std::string cr = plinth_fuzz::with_cr_line_ends(text); !cr.empty()) {
      FUZZ_CHECK(plinth_fuzz::same_result(textgrid::parse_stream(cr, "fuzz", false), lenient));
    }
  }
  return 0;
}
