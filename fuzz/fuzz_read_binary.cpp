// The binary reader on any bytes, as they come and after the layout's first
// bytes (so that every input reaches the values): no crash, no read out of
// bounds, no allocation beyond what the bytes can hold (libFuzzer's memory
// limit), every text valid UTF-8, and a strict read that succeeds gives what
// the lenient read gives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/parser_binary.hpp"
#include "fuzz_common.hpp"
#include "text/text_rules.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string headed =
      std::string(textgrid::kBinaryMagic) + "\x08TextGrid" + std::string(bytes);
  for (const std::string_view input : {bytes, std::string_view(headed)}) {
    const auto lenient = textgrid::parse_binary(input, "fuzz", {.strict = false});
    const auto strict = textgrid::parse_binary(input, "fuzz", {.strict = true});
    if (strict) FUZZ_CHECK(plinth_fuzz::same_result(strict, lenient));
    if (!lenient) {
      FUZZ_CHECK(textgrid::is_valid_utf8(lenient.error().message));
      continue;
    }
    for (const auto& tier : lenient->tiers) {
      FUZZ_CHECK(textgrid::is_valid_utf8(tier.name));
      FUZZ_CHECK(tier.size == tier.items.size());
      for (const auto& item : tier.items) FUZZ_CHECK(textgrid::is_valid_utf8(item.text));
    }
  }
  return 0;
}
