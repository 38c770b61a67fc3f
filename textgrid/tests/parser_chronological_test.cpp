#include "formats/parser_chronological.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "read/read.hpp"
#include "test_files.hpp"

namespace textgrid {
namespace {

using textgrid::testing::dump;
using textgrid::testing::error_of;
using textgrid::testing::replace_all;

// As Praat writes it: the tiers, then the items of all tiers in time order.
const std::string kPraatChronological =
    "\"Praat chronological TextGrid text file\"\n"
    "0 2.5   ! Time domain.\n"
    "2   ! Number of tiers.\n"
    "\"IntervalTier\" \"words\" 0 2.5\n"
    "\"TextTier\" \"bells\" 0 2.5\n"
    "\n"
    "! words:\n"
    "1 0 1.5\n"
    "\"say \"\"hi\"\"\"\n"
    "\n"
    "! bells:\n"
    "2 1.25 \n"
    "\"ding\"\n"
    "\n"
    "! words:\n"
    "1 1.5 2.5\n"
    "\"two\n"
    "lines\"\n";

const std::string kPraatChronologicalDump =
    "g 0.000000 2.500000 2\n"
    "I words 0.000000 2.500000 2\n"
    "  0.000000 1.500000 [say \"hi\"]\n"
    "  1.500000 2.500000 [two\nlines]\n"
    "P bells 0.000000 2.500000 1\n"
    "  1.250000 1.250000 [ding]\n";

Result<TextGrid> parse(const std::string& text, bool strict = false) {
  return parse_chronological(text, "g", strict);
}

TEST(chronological_reader, praat_layout_strict) {
  auto grid = parse(kPraatChronological, true);
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(dump(*grid), kPraatChronologicalDump);
}

TEST(chronological_reader, token_forms_do_not_matter) {
  // Line ends inside a label are the label's own bytes.
  auto crlf = parse(replace_all(kPraatChronological, "\n", "\r\n"), true);
  ASSERT_TRUE(crlf) << crlf.error().message;
  EXPECT_EQ(dump(*crlf), replace_all(kPraatChronologicalDump, "two\n", "two\r\n"));
  auto cr = parse(replace_all(kPraatChronological, "\n", "\r"), true);  // old Mac line ends
  ASSERT_TRUE(cr) << cr.error().message;
  EXPECT_EQ(dump(*cr), replace_all(kPraatChronologicalDump, "two\n", "two\r"));
  const std::vector<std::string> forms = {
      "\xEF\xBB\xBF" + kPraatChronological,
      kPraatChronological.substr(0, kPraatChronological.size() - 1),  // no final line feed
      // Tokens spread over lines or gathered on one, comments anywhere.
      replace_all(replace_all(kPraatChronological, "1 0 1.5\n", "1\n\t0\n 1.5 "),
                  "\"IntervalTier\" \"words\" 0 2.5\n",
                  "\"IntervalTier\"\n\"words\"\t0\f2.5\u00a0"),
      replace_all(replace_all(kPraatChronological, "2.5\n\"TextTier\"", "2.5 \"TextTier\""),
                  "1.25 \n\"ding\"", "1.25 \"ding\" ! the bell"),
      replace_all(kPraatChronological, "! words:", "!!! \"unclosed"),
      // Long words, cut only by blanks (Unicode ones too) or a comment.
      replace_all(
          replace_all(kPraatChronological, "1 0 1.5\n", "1 0.000000000000 1.500000000000\u2003"),
          "1 1.5 2.5\n", "1 1.50000000000!x\n2.5000000000000000\n"),
      // Bare words where Praat quotes.
      replace_all(replace_all(kPraatChronological, "\"IntervalTier\"", "IntervalTier"), "\"ding\"",
                  "ding"),
  };
  for (const auto& text : forms) {
    auto grid = parse(text, true);
    ASSERT_TRUE(grid) << grid.error().message << "\n" << text;
    EXPECT_EQ(dump(*grid), kPraatChronologicalDump) << text;
  }
}

TEST(chronological_reader, header_is_the_first_line_exactly) {
  EXPECT_TRUE(is_chronological_text("\"Praat chronological TextGrid text file\""));
  EXPECT_TRUE(
      is_chronological_text("\xEF\xBB\xBF\"Praat chronological TextGrid text file\" \r\n1"));
  EXPECT_FALSE(is_chronological_text("Praat chronological TextGrid text file\n"));
  EXPECT_FALSE(is_chronological_text(" \"Praat chronological TextGrid text file\"\n"));
  EXPECT_FALSE(is_chronological_text("\"Praat chronological TextGrid text file\" x\n"));
  EXPECT_FALSE(is_chronological_text("\n\"Praat chronological TextGrid text file\"\n"));
  EXPECT_EQ(error_of(parse("File type = \"ooTextFile\"\n")),
            "Line 1 should be \"Praat chronological TextGrid text file\"");
}

TEST(chronological_reader, items_go_to_their_tier_in_file_order) {
  auto grid = parse(
      "\"Praat chronological TextGrid text file\"\n0 3\n3\n"
      "\"TextTier\" \"a\" 0 3\n\"IntervalTier\" \"b\" 0 3\n\"TextTier\" \"c\" 0 3\n"
      "3 2 \"z\"\n1 1 \"x\"\n2 0 3 \"\"\n1 0.5 \"y\"\n");
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(dump(*grid),
            "g 0.000000 3.000000 3\n"
            "P a 0.000000 3.000000 2\n"
            "  1.000000 1.000000 [x]\n"
            "  0.500000 0.500000 [y]\n"
            "I b 0.000000 3.000000 1\n"
            "  0.000000 3.000000 []\n"
            "P c 0.000000 3.000000 1\n"
            "  2.000000 2.000000 [z]\n");
  // Out of order within a tier: only the strict check minds.
  const std::string backwards =
      "\"Praat chronological TextGrid text file\"\n0 3\n1\n\"TextTier\" \"a\" 0 3\n"
      "1 1 \"x\"\n1 0.5 \"y\"\n";
  EXPECT_EQ(error_of(parse(backwards)), "ok");
  EXPECT_EQ(error_of(parse(backwards, true)), "Items 0 and 1 overlap in tier a");
}

struct BadInput {
  std::string body;  // after the header line
  std::string message;
};

// Beside the rows of tests/test_bad_input.py.
class chronological_bad_input : public ::testing::TestWithParam<BadInput> {};

TEST_P(chronological_bad_input, fails_naming_the_line) {
  const std::string text = "\"Praat chronological TextGrid text file\"\n" + GetParam().body;
  EXPECT_EQ(error_of(parse(text, false)), GetParam().message);
  EXPECT_EQ(error_of(parse(text, true)), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    chronological_reader, chronological_bad_input,
    ::testing::Values(
        BadInput{"",
                 "Unexpected end of file after line 1: expected the start time of the TextGrid"},
        BadInput{"0 1\n2\n\"IntervalTier\" \"a\" 0 1\n\"TextTier\" \"b\"\n",
                 "Unexpected end of file after line 5: expected the start time of tier 1"},
        BadInput{"0 1\n1\n\"TextTier\" \"a\" 0 1\n1 0.5 \"p\"\n1\n",
                 "Unexpected end of file after line 6: expected the time of item 1 of tier 0"},
        BadInput{"0 1\n1\n\"TextTier\" \"a\" 0 1\n1 0.5 ! no mark\n",
                 "Unexpected end of file after line 5: expected the mark of item 0 of tier 0"},
        BadInput{"0 1\n1\n\"IntervalTier\" \"a\" 0 1\n0 0 1 \"x\"\n",
                 "Tier number 0 on line 5 is out of range: the TextGrid has 1 tiers"},
        BadInput{"0 1\n0\n1 0 1 \"x\"\n",
                 "Tier number 1 on line 4 is out of range: the TextGrid has 0 tiers"},
        BadInput{"0 1\n1\n\"IntervalTier\" \"a\" 0 1\n-1 0 1 \"x\"\n",
                 "Tier number -1 on line 5 is out of range: the TextGrid has 1 tiers"},
        BadInput{"0 1\n1\n\"IntervalTier\" \"a\" 0 1\n: \"x\" 0 1\n",
                 "Tier number \"x\" on line 5 is out of range: the TextGrid has 1 tiers"}));

TEST(chronological_reader, texts_follow_the_shared_quoting_rules) {
  const std::string head =
      "\"Praat chronological TextGrid text file\"\n0 1\n1\n\"TextTier\" \"a\" 0 1\n1 0.5\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\"\"\"\"", "\""},
      {"\"a\"\"\nb\"", "a\"\nb"},                          // "" at a line end does not close
      {"\"a\r\n!b \"\"c\"\"\r\n\"", "a\r\n!b \"c\"\r\n"},  // exact bytes, no comment inside
      {"\"back\\\\\"", "back\\\\"},
      {"\"open\n1 2 \"\"", "open"},  // nothing closes it: the rest of its own line
      {"\"\"", ""},
      // Past the first eight bytes of the text.
      {"\"abcdefghij\"\"k\"", "abcdefghij\"k"},
      {"\"abcdefghij\nk\"", "abcdefghij\nk"},
      {"\"abcdefghijklmnop\"\"\"", "abcdefghijklmnop\""},
      {"\"\xc3\xa9\x01\xe2\x80\x83 \t!\"", "\xc3\xa9\x01\xe2\x80\x83 \t!"},
  };
  for (const auto& [label, want] : cases) {
    for (const std::string after : {"\n", ""}) {  // the text ends the file
      auto grid = parse(head + label + after);
      ASSERT_TRUE(grid) << label << ": " << grid.error().message;
      ASSERT_EQ(grid->tiers[0].items.size(), label.starts_with("\"open") ? 2u : 1u) << label;
      EXPECT_EQ(grid->tiers[0].items[0].text, want) << label;
    }
  }
  // A tier name over several lines, then the times on its closing line, as
  // Praat writes it.
  auto grid = parse(
      "\"Praat chronological TextGrid text file\"\n0 1\n1\n"
      "\"IntervalTier\" \"tw\"\"o\nlines \"\"\" 0.5 1 ! c\n");
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(grid->tiers[0].name, "tw\"o\nlines \"");
  EXPECT_EQ(grid->tiers[0].tmin, 0.5);
  // Praat's comment before a record names the tier; with a line break in the
  // name, the comment's rest stands on a line of its own. Words that cannot
  // begin a number are passed over there, as Praat does, up to the file's end.
  grid = parse(
      "\"Praat chronological TextGrid text file\"\n0 1\n1\n"
      "\"IntervalTier\" \"\n\" 0 1\n\n! \n:\n1 0 1\n\"\"\nx y \u00e9\n");
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(dump(*grid),
            "g 0.000000 1.000000 1\nI \n 0.000000 1.000000 1\n  0.000000 1.000000 []\n");
}

TEST(chronological_reader, tiers_that_begin_late_still_take_every_item) {
  // The first records foretell the tiers' sizes; a tier whose items come only
  // later, or a file that ends sooner than foretold, is read all the same.
  std::string text =
      "\"Praat chronological TextGrid text file\"\n0 4000\n2\n"
      "\"IntervalTier\" \"a\" 0 4000\n\"TextTier\" \"b\" 0 4000\n";
  for (int i = 0; i < 4000; ++i) {
    const std::string t = std::to_string(i);
    text += i < 2000 ? "\n! a:\n1 " + t + " " + std::to_string(i + 1) + "\n\"w" + t + "\"\n"
                     : "2 " + t + " \"p" + t + "\"\n";
  }
  auto grid = parse(text, true);
  ASSERT_TRUE(grid) << grid.error().message;
  ASSERT_EQ(grid->tiers[0].items.size(), 2000u);
  ASSERT_EQ(grid->tiers[1].items.size(), 2000u);
  EXPECT_EQ(grid->tiers[0].items[1999].text, "w1999");
  EXPECT_EQ(grid->tiers[1].items[1999].tmin, 3999);
  EXPECT_EQ(grid->tiers[1].items[1999].text, "p3999");
}

TEST(chronological_reader, lenient_numbers_and_strict_check) {
  const std::string text =
      "\"Praat chronological TextGrid text file\"\nx 1\n1\n\"IntervalTier\" \"a\" 0 1\n"
      "1 0 0.5 \"a\"\n1 0.4 1 \"b\"\n";
  auto lenient = parse(text);
  ASSERT_TRUE(lenient);
  EXPECT_EQ(lenient->tmin, 0);
  EXPECT_EQ(lenient->tiers[0].size, 2u);
  EXPECT_NE(error_of(parse(text, true)), "ok");
}

// The chronological reader as a read reaches it: chosen by the file's header.
Result<TextGrid> read_from_file_chronological(const std::string& path, bool strict) {
  return read_from_file(path, strict, "auto");
}

TEST(read_from_file_chronological, names_after_stem_and_decodes_utf16) {
  testing::TempDir dir;
  std::string utf16 = "\xFE\xFF";
  for (const unsigned char c : kPraatChronological) {
    utf16.push_back('\0');
    utf16.push_back(static_cast<char>(c));
  }
  auto grid = read_from_file_chronological(dir.write("w.x.TextGrid", utf16), true);
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(dump(*grid), replace_all(kPraatChronologicalDump, "g 0", "w.x 0"));
  EXPECT_EQ(error_of(read_from_file_chronological(dir.path("missing"), false)),
            "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace textgrid
