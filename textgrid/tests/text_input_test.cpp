#include "text/text_input.hpp"

#include <string>

#include <gtest/gtest.h>

#include "test_files.hpp"

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

// From 4 MiB on, a file is read as two halves and checked as two parts cut
// near the middle at a character start: a character or a fault at and around
// the middle must read as in one piece.
TEST(read_text_file, large_files_read_and_checked_as_in_one_piece) {
  const std::size_t size = (std::size_t{5} << 20) + 3;
  std::string base;
  base.reserve(size);
  for (std::size_t i = 0; i < size; ++i) base.push_back(static_cast<char>('a' + i % 23));
  const std::size_t middle = size / 2;
  testing::TempDir dir;
  struct Case {
    std::ptrdiff_t at;  // from the middle
    const char* bytes;
    bool valid;
  };
  const Case cases[] = {{0, "", true},
                        {-1, "\xC3\xA9", true},  // cut inside a character
                        {-2, "\xE2\x82\xAC", true},
                        {-3, "\xF0\x9F\x98\x80", true},
                        {-1, "\xC3", false},  // a lead byte alone, just before
                        {0, "\x80", false},   // a continuation byte alone
                        {-2, "\x80\x80\x80\x80", false},
                        {-1000, "\xFF", false},  // a fault well inside either part
                        {1000, "\xFF", false}};
  for (const Case& c : cases) {
    std::string text = base;
    text.replace(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(middle) + c.at),
                 std::char_traits<char>::length(c.bytes), c.bytes);
    auto read = read_text_file(dir.write("large.txt", text));
    ASSERT_EQ(read.has_value(), c.valid) << c.at << " " << c.bytes;
    if (read) {
      EXPECT_TRUE(*read == text) << c.at;
    } else {
      EXPECT_EQ(read.error().message, "stream did not contain valid UTF-8");
    }
    EXPECT_EQ(is_valid_utf8(text), c.valid);
  }
}

}  // namespace
}  // namespace textgrid
