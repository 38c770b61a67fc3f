#include "formats/parser_short.hpp"

#include <cmath>
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

using testing::TempDir;

// Praat's own short layout.
const std::string kPraatShort =
    "File type = \"ooTextFile\"\n"
    "Object class = \"TextGrid\"\n"
    "\n"
    "0\n"
    "2.5\n"
    "<exists>\n"
    "2\n"
    "\"IntervalTier\"\n"
    "\"words\"\n"
    "0\n"
    "2.5\n"
    "2\n"
    "0\n"
    "1.5\n"
    "\"hello\"\n"
    "1.5\n"
    "2.5\n"
    "\"\"\n"
    "\"TextTier\"\n"
    "\"bells\"\n"
    "0\n"
    "2.5\n"
    "1\n"
    "1.25\n"
    "\"ding\"\n";

const std::string kPraatShortDump =
    "g 0.000000 2.500000 2\n"
    "I words 0.000000 2.500000 2\n"
    "  0.000000 1.500000 [hello]\n"
    "  1.500000 2.500000 []\n"
    "P bells 0.000000 2.500000 1\n"
    "  1.250000 1.250000 [ding]\n";

Result<TextGrid> parse(const std::string& text, bool strict = false) {
  return parse_short(text, "g", strict);
}

TEST(short_reader, praat_layout_in_every_line_form) {
  for (const auto& text :
       {kPraatShort, replace_all(kPraatShort, "\n", "\r\n"), replace_all(kPraatShort, "\n", "\r"),
        replace_all(kPraatShort, "\n", " \t\r\n"), kPraatShort.substr(0, kPraatShort.size() - 1),
        replace_all(kPraatShort, "<exists>", "anything at all"),
        replace_all(kPraatShort, "\"IntervalTier\"", "IntervalTier"),
        kPraatShort + "trailing lines\nare ignored\n"}) {
    auto grid = parse(text, true);
    ASSERT_TRUE(grid) << grid.error().message;
    EXPECT_EQ(dump(*grid), kPraatShortDump) << text;
  }
}

TEST(short_reader, extra_blank_line_shifts_values) {
  // A second blank header line: the times come from the blank and the "0"
  // lines, and the tier count from "<exists>", which is no count.
  const std::string shifted = replace_all(kPraatShort, "\n\n0\n", "\n\n\n0\n");
  auto grid = parse(shifted);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->tmax, 0);
  EXPECT_TRUE(grid->tiers.empty());
  // A blank line inside an item: a text line read as a time gives 0, and the
  // next class line falls on a time line.
  const std::string inner = replace_all(kPraatShort, "1.5\n\"hello\"\n", "1.5\n\n\"hello\"\n");
  EXPECT_EQ(error_of(parse(inner)), "Unknown tier class: \"\"");
}

TEST(short_reader, too_few_lines_names_the_line) {
  EXPECT_EQ(error_of(parse("")), "Unexpected end of file: line 1 should hold the header");
  EXPECT_EQ(error_of(parse("File type\nObject class\n\n0\n1\n<exists>\n")),
            "Unexpected end of file: line 7 should hold the number of tiers");
  const std::string cut = kPraatShort.substr(0, kPraatShort.find("\"TextTier\""));
  EXPECT_EQ(error_of(parse(cut)),
            "Unexpected end of file: line 19 should hold the class of tier 1");
  const std::string more = replace_all(kPraatShort, "\n1\n1.25", "\n2\n1.25");
  EXPECT_EQ(error_of(parse(more)),
            "Unexpected end of file: line 26 should hold the time of item 1 of tier 1");
  const std::string mid = kPraatShort.substr(0, kPraatShort.find("1.5\n\"hello\""));
  EXPECT_EQ(error_of(parse(mid)),
            "Unexpected end of file: line 14 should hold the end time of item 0 of tier 0");
}

TEST(short_reader, count_larger_than_items_reads_next_tier_as_items) {
  const std::string more = replace_all(kPraatShort, "2.5\n2\n0\n", "2.5\n3\n0\n");
  // Item 2 of "words" takes the "TextTier" and "bells" lines as times and
  // "0" as its text; the next class line is then "2.5".
  EXPECT_EQ(error_of(parse(more)), "Unknown tier class: 2.5");
}

TEST(short_reader, tier_count_forms) {
  for (const char* count : {"0", "2.0", "-1", "+0", "x", ""}) {
    const std::string line = std::string("<exists>\n") + count + "\n";
    auto grid = parse(replace_all(kPraatShort, "<exists>\n2\n", line));
    ASSERT_TRUE(grid) << count;
    EXPECT_TRUE(grid->tiers.empty()) << count;
    EXPECT_EQ(grid->tmax, 2.5);
  }
  auto plus = parse(replace_all(kPraatShort, "<exists>\n2\n", "<exists>\n+2\n"), true);
  EXPECT_TRUE(plus) << plus.error().message;
}

TEST(short_reader, class_is_exact) {
  EXPECT_EQ(error_of(parse(replace_all(kPraatShort, "\"IntervalTier\"", "\"intervaltier\""))),
            "Unknown tier class: \"intervaltier\"");
  EXPECT_EQ(error_of(parse(replace_all(kPraatShort, "\"TextTier\"", "  \"PointTier\"  "))),
            "Unknown tier class: \"PointTier\"");
}

TEST(short_reader, long_layout_gives_no_tiers) {
  const std::string long_text =
      "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \nxmax = 2 \n"
      "tiers? <exists> \nsize = 1 \nitem []: \n    item [1]:\n";
  auto grid = parse(long_text);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->tmin, 0);
  EXPECT_EQ(grid->tmax, 0);
  EXPECT_TRUE(grid->tiers.empty());
  EXPECT_EQ(error_of(parse(long_text, true)), "Time bounds should be non-negative in TextGrid");
}

TEST(short_reader, labels_in_praat_quoting) {
  const std::string text = replace_all(replace_all(kPraatShort, "\"hello\"", "\"\"\"hEl@U\""),
                                       "\"ding\"", "\"say \"\"hi\"\"\"");
  auto grid = parse(text, true);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->tiers[0].items[0].text, "\"hEl@U");
  EXPECT_EQ(grid->tiers[1].items[0].text, "say \"hi\"");
  auto one_quote = parse(replace_all(kPraatShort, "\"\"\n\"TextTier\"", "\"\"\"\"\n\"TextTier\""));
  ASSERT_TRUE(one_quote);
  EXPECT_EQ(one_quote->tiers[0].items[1].text, "\"");
}

TEST(short_reader, multi_line_label_keeps_later_positions) {
  for (const std::string eol : {"\n", "\r\n"}) {
    std::string text = replace_all(kPraatShort, "\"hello\"", "\"hel\n \nlo \"\"x\"\"\"");
    text = replace_all(text, "\"words\"", "\"two\nwords\"");
    text = replace_all(text, "\n", eol);
    auto grid = parse(text, true);
    ASSERT_TRUE(grid) << grid.error().message;
    EXPECT_EQ(grid->tiers[0].name, "two" + eol + "words");
    EXPECT_EQ(grid->tiers[0].items[0].text, "hel" + eol + " " + eol + "lo \"x\"");
    EXPECT_EQ(grid->tiers[1].items[0].text, "ding");
    EXPECT_EQ(grid->tiers[1].items[0].tmin, 1.25);
  }
}

TEST(short_reader, strict_reports_document_check) {
  const std::string bad = replace_all(kPraatShort, "1.25\n", "3.5\n");
  EXPECT_EQ(error_of(parse(bad)), "ok");  // outside the tier's range is fine
  const std::string backwards = replace_all(kPraatShort, "0\n1.5\n\"hello\"", "0\n0\n\"hello\"");
  EXPECT_EQ(error_of(parse(backwards)), "ok");
  EXPECT_EQ(error_of(parse(backwards, true)),
            "Time bounds should be non-negative in item 0 in tier words");
}

TEST(short_reader, huge_tier_count_fails_at_end_of_lines) {
  const std::string text =
      replace_all(kPraatShort, "<exists>\n2\n", "<exists>\n18446744073709551615\n");
  EXPECT_EQ(error_of(parse(text)),
            "Unexpected end of file: line 26 should hold the class of tier 2");
}

TEST(read_from_file_short, names_after_stem_and_passes_read_errors) {
  TempDir dir;
  auto grid = read_from_file_short(dir.write(".hidden", kPraatShort), true);
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(grid->name, ".hidden");
  auto missing = read_from_file_short(dir.path("none"), true);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
}

}  // namespace
}  // namespace textgrid
