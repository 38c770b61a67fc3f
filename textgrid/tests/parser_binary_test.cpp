#include "formats/parser_binary.hpp"

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "read/read.hpp"
#include "test_files.hpp"

namespace textgrid {
namespace {

using textgrid::testing::dump;
using textgrid::testing::error_of;

// The pieces of the layout, as Praat writes them (big-endian throughout).
std::string be(std::uint64_t v, int bytes) {
  std::string out;
  for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
  return out;
}
std::string real(double v) {
  return be(std::bit_cast<std::uint64_t>(v), 8);
}
std::string count(std::uint32_t v) {
  return be(v, 4);
}
std::string w8(const std::string& s) {
  return be(s.size(), 1) + s;
}
std::string w16(const std::string& s) {
  return be(s.size(), 2) + s;
}
// The UTF-16 form: 0xFFFF, the number of characters, the units.
std::string w16_units(std::uint32_t characters, const std::vector<std::uint16_t>& units) {
  std::string out = be(0xFFFF, 2) + be(characters, 2);
  for (const std::uint16_t u : units) out += be(u, 2);
  return out;
}

const std::string kHead = "ooBinaryFile" + w8("TextGrid");

// What Praat writes for two tiers: words (two intervals) and bells (one point).
std::string praat_binary() {
  return kHead + real(0) + real(2.5) + "\x01" + count(2) + w8("IntervalTier") + w16("words") +
         real(0) + real(2.5) + count(2) + real(0) + real(1.5) + w16("say \"hi\"") + real(1.5) +
         real(2.5) + w16("two\nlines") + w8("TextTier") + w16("bells") + real(0) + real(2.5) +
         count(1) + real(1.25) + w16("ding");
}

const std::string kPraatBinaryDump =
    "g 0.000000 2.500000 2\n"
    "I words 0.000000 2.500000 2\n"
    "  0.000000 1.500000 [say \"hi\"]\n"
    "  1.500000 2.500000 [two\nlines]\n"
    "P bells 0.000000 2.500000 1\n"
    "  1.250000 1.250000 [ding]\n";

Result<TextGrid> parse(const std::string& bytes, bool strict = false) {
  return parse_binary(bytes, "g", {.strict = strict});
}

TEST(binary_reader, praat_layout_strict) {
  auto grid = parse(praat_binary(), true);
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(dump(*grid), kPraatBinaryDump);
  // Bytes after the last tier are not looked at.
  EXPECT_EQ(error_of(parse(praat_binary() + "\x01\x02", true)), "ok");
}

TEST(binary_reader, texts_in_both_string_forms) {
  const std::string one_point = kHead + real(0) + real(1) + "\x01" + count(1) + w8("TextTier") +
                                w16("p") + real(0) + real(1) + count(1) + real(0.5);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {w16(""), ""},
      {w16("\xE9t\xE9"), "\u00e9t\u00e9"},  // 8-bit bytes are ISO Latin-1
      {w16(std::string("a\0b", 3)), std::string("a\0b", 3)},
      {w16_units(0, {}), ""},
      {w16_units(3, {0x0068, 0x025B, 0x02C8}), "h\u025b\u02c8"},
      // A surrogate pair is one character of the count.
      {w16_units(2, {0xD83D, 0xDE00, 0x0021}), "\U0001F600!"},
      {w16_units(2, {0x0000, 0xFEFF}), std::string("\0\uFEFF", 4)},
  };
  for (const auto& [mark, want] : cases) {
    auto grid = parse(one_point + mark, true);
    ASSERT_TRUE(grid) << grid.error().message;
    EXPECT_EQ(grid->tiers[0].items[0].text, want);
  }
  // Names take the same forms; class names a one-byte length.
  auto grid = parse(kHead + real(0) + real(1) + "\x01" + count(1) + w8("IntervalTier") +
                    w16_units(1, {0x00E9}) + real(0) + real(1) + count(0));
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(grid->tiers[0].name, "\u00e9");
}

TEST(binary_reader, no_tiers_with_or_without_the_flag) {
  auto with_flag = parse(kHead + real(0) + real(1.25) + "\x01" + count(0), true);
  ASSERT_TRUE(with_flag) << with_flag.error().message;
  EXPECT_EQ(dump(*with_flag), "g 0.000000 1.250000 0\n");
  // Without the flag no count follows.
  auto without = parse(kHead + real(0) + real(1.25) + std::string(1, '\0'), true);
  ASSERT_TRUE(without) << without.error().message;
  EXPECT_EQ(dump(*without), "g 0.000000 1.250000 0\n");
}

TEST(binary_reader, every_truncation_fails_cleanly) {
  const std::string whole = praat_binary();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const auto grid = parse(whole.substr(0, n));
    ASSERT_FALSE(grid) << n;
    EXPECT_FALSE(grid.error().message.empty());
  }
}

struct BadInput {
  std::string bytes;
  std::string message;
};

// Beside the rows of tests/test_bad_input.py.
class binary_bad_input : public ::testing::TestWithParam<BadInput> {};

TEST_P(binary_bad_input, fails_naming_value_and_offset) {
  EXPECT_EQ(error_of(parse(GetParam().bytes, false)), GetParam().message);
  EXPECT_EQ(error_of(parse(GetParam().bytes, true)), GetParam().message);
}

const std::string kTiers = kHead + real(0) + real(1) + "\x01";  // 38 bytes

INSTANTIATE_TEST_SUITE_P(
    binary_reader, binary_bad_input,
    ::testing::Values(
        BadInput{"ooTextFile", "Not a binary Praat file: it does not begin with \"ooBinaryFile\""},
        BadInput{"ooBinaryFile\x09TextGrid",
                 "Unexpected end of file at byte 13: the object class needs 9 bytes, but only 8 "
                 "remain"},
        BadInput{kHead + real(0) + "\x40",
                 "Unexpected end of file at byte 29: the end time of the TextGrid needs 8 bytes, "
                 "but only 1 remain"},
        BadInput{kTiers + count(2) + std::string(45, '\0'),
                 "Count too large at byte 38: the number of tiers is 2, more than the 45 bytes "
                 "after it can hold"},
        BadInput{kTiers + count(1) + w8("IntervalTier") + w16("w") + real(0) + real(1) + count(1) +
                     std::string(17, '\0'),
                 "Count too large at byte 74: the number of items of tier 0 is 1, more than the "
                 "17 bytes after it can hold"},
        BadInput{kTiers + count(1) + w8("TextTier") + w16("w") + real(0) + real(1) + count(2) +
                     real(0.5) + w16("a") + std::string(9, '\0'),
                 "Unexpected end of file at byte 93: the mark of item 1 of tier 0 needs 2 "
                 "bytes, but only 1 remain"},
        BadInput{kTiers + count(1) + w8("TextTier") + w16("w") + real(0) + real(1) + count(1) +
                     real(0.5) + w16_units(9, {0x41, 0x42}) + std::string(6, '\0'),
                 "Unexpected end of file at byte 86: the mark of item 0 of tier 0 needs 18 "
                 "bytes, but only 10 remain"},
        BadInput{kTiers + count(1) + w8("TextTier") + w16("w") + real(0) + real(1) + count(1) +
                     real(0.5) + w16_units(2, {0xD83D, 0x0041}) + std::string(8, '\0'),
                 "Unpaired UTF-16 surrogate at byte 86 in the mark of item 0 of tier 0"},
        BadInput{kTiers + count(1) + w16_units(1, {0x41}) + std::string(20, '\0'),
                 "Unexpected end of file at byte 43: the class of tier 0 needs 255 bytes, but "
                 "only 25 remain"},
        BadInput{kTiers + count(1) + w8("\xE9x") + std::string(30, '\0'),
                 "Unknown tier class: \"\u00e9x\""}));

TEST(binary_reader, strict_runs_the_document_check) {
  const std::string overlapping = kTiers + count(1) + w8("IntervalTier") + w16("w") + real(0) +
                                  real(1) + count(2) + real(0) + real(0.6) + w16("") + real(0.5) +
                                  real(1) + w16("");
  EXPECT_EQ(error_of(parse(overlapping, false)), "ok");
  EXPECT_EQ(error_of(parse(overlapping, true)), "Items 0 and 1 overlap in tier w");
}

// The binary reader as a read reaches it: chosen by the file's first bytes.
Result<TextGrid> read_from_file_binary(const std::string& path, bool strict) {
  return read_from_file(path, strict, "auto");
}

TEST(read_from_file_binary, names_after_stem_and_passes_read_errors) {
  testing::TempDir dir;
  auto grid = read_from_file_binary(dir.write("b.TextGrid", praat_binary()), true);
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(grid->name, "b");
  EXPECT_EQ(error_of(read_from_file_binary(dir.path("missing"), false)),
            "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace textgrid
