// The short reader on any bytes: no crash, no read out of bounds, a strict read
// that succeeds gives what the lenient read gives, and what the read holds
// stays within a small multiple of the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/parser_short.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lenient = textgrid::parse_short(text, "fuzz", false);
  const auto strict = textgrid::parse_short(text, "fuzz", true);
  if (strict) FUZZ_CHECK(plinth_fuzz::same_result(strict, lenient));
  if (lenient) plinth_fuzz::check_memory_bound(*lenient, size);
  return 0;
}
