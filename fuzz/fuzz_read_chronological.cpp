// The chronological reader on any bytes, as they come and after the layout's
// first line (so that every input reaches the records): no crash, no read out
// of bounds, and a strict read that succeeds gives what the lenient read gives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/parser_chronological.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string headed =
      std::string(textgrid::kChronologicalHeader) + "\n" + std::string(bytes);
  for (const std::string_view text : {bytes, std::string_view(headed)}) {
    const auto lenient = textgrid::parse_chronological(text, "fuzz", false);
    const auto strict = textgrid::parse_chronological(text, "fuzz", true);
    if (strict) FUZZ_CHECK(plinth_fuzz::same_result(strict, lenient));
    if (lenient) {
      for (const auto& tier : lenient->tiers) FUZZ_CHECK(tier.size == tier.items.size());
    }
  }
  return 0;
}
