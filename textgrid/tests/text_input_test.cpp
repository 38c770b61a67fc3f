#include "text_input.hpp"

#include <string>

#include <gtest/gtest.h>

namespace textgrid {
namespace {

// The ASCII runs are skipped in wide steps: a bad byte at any offset, at the
// edges of those steps included, must still be seen.
TEST(is_valid_utf8, sees_a_bad_byte_at_every_offset) {
  for (std::size_t at = 0; at < 200; ++at) {
    std::string text(200, 'a');
    text[at] = '\xFF';
    EXPECT_FALSE(is_valid_utf8(text)) << at;
    text[at] = '\xC3';  // a lead byte without its continuation
    EXPECT_FALSE(is_valid_utf8(text)) << at;
    text.replace(at, 1, "\xC3\xA9");
    EXPECT_TRUE(is_valid_utf8(text)) << at;
    text.replace(at, 2, "\xED\xA0\x80");  // a surrogate
    EXPECT_FALSE(is_valid_utf8(text)) << at;
  }
}

}  // namespace
}  // namespace textgrid
