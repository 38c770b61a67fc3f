// Read, write in both layouts, read again: the records must come back exactly
// (times bit for bit or both not a number, names, classes, labels), writing
// them again must give the same bytes, and "auto" must tell the writer's two
// layouts apart.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/parser_long.hpp"
#include "formats/parser_short.hpp"
#include "fuzz_common.hpp"
#include "text/text_rules.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto decoded =
      textgrid::decode_text(std::string(reinterpret_cast<const char*>(data), size));
  if (!decoded) return 0;
  const auto first = textgrid::has_long_layout_marker(*decoded)
                         ? textgrid::parse_long(*decoded, "fuzz", false)
                         : textgrid::parse_short(*decoded, "fuzz", false);
  if (!first) return 0;

  const std::string long_text = first->to_long_textgrid_string();
  const auto from_long = textgrid::parse_long(long_text, "fuzz", false);
  FUZZ_CHECK(from_long);
  FUZZ_CHECK(plinth_fuzz::same_records(*first, *from_long));
  FUZZ_CHECK(from_long->to_long_textgrid_string() == long_text);
  FUZZ_CHECK(textgrid::has_long_layout_marker(long_text));

  const std::string short_text = first->to_short_textgrid_string();
  const auto from_short = textgrid::parse_short(short_text, "fuzz", false);
  FUZZ_CHECK(from_short);
  FUZZ_CHECK(plinth_fuzz::same_records(*first, *from_short));
  FUZZ_CHECK(from_short->to_short_textgrid_string() == short_text);
  FUZZ_CHECK(!textgrid::has_long_layout_marker(short_text));
  return 0;
}
