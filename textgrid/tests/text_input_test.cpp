#include "text/text_input.hpp"

#include <string>
#include <string_view>

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
    EXPECT_EQ(first_invalid_utf8(text), at);
    text.replace(at, 1, "\xC3\xA9");
    EXPECT_TRUE(is_valid_utf8(text)) << at;
    EXPECT_EQ(first_invalid_utf8(text), text.size());
    text.replace(at, 2, "\xED\xA0\x80");  // a surrogate
    EXPECT_FALSE(is_valid_utf8(text)) << at;
    EXPECT_EQ(first_invalid_utf8(text), at);
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

// Bytes 0x80 to 0x9F as Python's cp1252 codec reads them, the five it leaves
// unassigned as the C1 controls of their number (as web browsers read them).
// From 0xA0 on cp1252 is latin-1, which is how Praat reads 8-bit files
// (tests/test_praat_interop.py checks that against Praat).
constexpr std::string_view kCp1252Low =
    "\xE2\x82\xAC\xC2\x81\xE2\x80\x9A\xC6\x92\xE2\x80\x9E\xE2\x80\xA6\xE2\x80\xA0\xE2\x80\xA1\xCB"
    "\x86"
    "\xE2\x80\xB0\xC5\xA0\xE2\x80\xB9\xC5\x92\xC2\x8D\xC5\xBD\xC2\x8F\xC2\x90\xE2\x80\x98\xE2\x80"
    "\x99"
    "\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\xA2\xE2\x80\x93\xE2\x80\x94\xCB\x9C\xE2\x84\xA2\xC5\xA1\xE2"
    "\x80\xBA"
    "\xC5\x93\xC2\x9D\xC5\xBE\xC5\xB8";

TEST(decode_8bit, every_byte_as_the_codecs_read_it) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string latin1(all.substr(0, 0x80));
  for (int b = 0x80; b < 0x100; ++b) {
    latin1.push_back(static_cast<char>(0xC0 | (b >> 6)));
    latin1.push_back(static_cast<char>(0x80 | (b & 0x3F)));
  }
  EXPECT_EQ(decode_8bit(all, Encoding::Latin1), latin1);
  EXPECT_EQ(decode_8bit(all, Encoding::Praat), latin1);
  const std::size_t from_a0 = 0x80 + 2 * 0x20;
  EXPECT_EQ(decode_8bit(all, Encoding::Cp1252),
            latin1.substr(0, 0x80) + std::string(kCp1252Low) + latin1.substr(from_a0));
}

TEST(decode_text, each_encoding) {
  const std::string utf8 = "a\xC3\xA9";     // "aé" in UTF-8
  const std::string mixed = utf8 + "\xF6";  // and a latin-1 "ö": not UTF-8
  const std::string utf16(
      "\xFF\xFE"
      "a\0\xE9\0",
      6);
  struct Case {
    Encoding encoding;
    std::string valid, mixed;
  };
  const Case cases[] = {
      {Encoding::Utf8, utf8, ""},
      // Praat takes the whole file as latin-1 once any of it is not UTF-8.
      {Encoding::Praat, utf8, "a\xC3\x83\xC2\xA9\xC3\xB6"},
      {Encoding::Latin1, "a\xC3\x83\xC2\xA9", "a\xC3\x83\xC2\xA9\xC3\xB6"},
      {Encoding::Cp1252, "a\xC3\x83\xC2\xA9", "a\xC3\x83\xC2\xA9\xC3\xB6"},
  };
  for (const Case& c : cases) {
    const auto n = static_cast<int>(c.encoding);
    EXPECT_EQ(decode_text(utf8, {.encoding = c.encoding}).value(), c.valid) << n;
    EXPECT_EQ(decode_text(utf16, {.encoding = c.encoding}).value(), utf8) << n;
    auto read = decode_text(mixed, {.encoding = c.encoding});
    if (c.mixed.empty()) {
      ASSERT_FALSE(read) << n;
      EXPECT_EQ(read.error().message, "stream did not contain valid UTF-8");
      EXPECT_EQ(read.error().invalid_byte, 3u);
    } else {
      EXPECT_EQ(read.value(), c.mixed) << n;
    }
    auto bad16 = decode_text(std::string("\xFE\xFF\xDC\x00", 4), {.encoding = c.encoding});
    ASSERT_FALSE(bad16) << n;
    EXPECT_EQ(bad16.error().message, "stream did not contain valid UTF-16");
  }
}

}  // namespace
}  // namespace textgrid
