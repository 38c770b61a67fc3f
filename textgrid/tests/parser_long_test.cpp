#include "formats/parser_long.hpp"

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

// Praat's own long layout (LF, a blank before every line end after a value).
const std::string kPraatLong =
    "File type = \"ooTextFile\"\n"
    "Object class = \"TextGrid\"\n"
    "\n"
    "xmin = 0 \n"
    "xmax = 2.5 \n"
    "tiers? <exists> \n"
    "size = 2 \n"
    "item []: \n"
    "    item [1]:\n"
    "        class = \"IntervalTier\" \n"
    "        name = \"words\" \n"
    "        xmin = 0 \n"
    "        xmax = 2.5 \n"
    "        intervals: size = 2 \n"
    "        intervals [1]:\n"
    "            xmin = 0 \n"
    "            xmax = 1.5 \n"
    "            text = \"hello\" \n"
    "        intervals [2]:\n"
    "            xmin = 1.5 \n"
    "            xmax = 2.5 \n"
    "            text = \"\" \n"
    "    item [2]:\n"
    "        class = \"TextTier\" \n"
    "        name = \"bells\" \n"
    "        xmin = 0 \n"
    "        xmax = 2.5 \n"
    "        points: size = 1 \n"
    "        points [1]:\n"
    "            number = 1.25 \n"
    "            mark = \"ding\" \n";

const std::string kPraatLongDump =
    "g 0.000000 2.500000 2\n"
    "I words 0.000000 2.500000 2\n"
    "  0.000000 1.500000 [hello]\n"
    "  1.500000 2.500000 []\n"
    "P bells 0.000000 2.500000 1\n"
    "  1.250000 1.250000 [ding]\n";

Result<TextGrid> parse(const std::string& text, bool strict = false) {
  return parse_long(text, "g", strict);
}

TEST(long_reader, praat_layout_strict) {
  auto grid = parse(kPraatLong, true);
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(dump(*grid), kPraatLongDump);
}

TEST(long_reader, line_forms_do_not_matter) {
  std::string unindented;
  for (std::size_t at = 0; at < kPraatLong.size();) {
    const std::size_t nl = kPraatLong.find('\n', at);
    std::string line = kPraatLong.substr(at, nl - at);
    line.erase(0, line.find_first_not_of(' ') == std::string::npos ? line.size()
                                                                   : line.find_first_not_of(' '));
    unindented += line + "\n\n";  // a blank line after every line, too
    at = nl + 1;
  }
  const std::vector<std::string> forms = {
      replace_all(kPraatLong, "\n", "\r\n"),
      replace_all(kPraatLong, " \n", "\n"),
      replace_all(kPraatLong, "\n", " \t \u00a0\r\n"),
      unindented,
      kPraatLong.substr(0, kPraatLong.size() - 1),  // no line feed at the end
      // Another header, or none at all.
      replace_all(kPraatLong, "ooTextFile", "binary"),
      kPraatLong.substr(kPraatLong.find("xmin")),
      // Headings as ELAN exports them: no blank before a tier's bracket, no
      // colon after an item's; and tabs before the bracket.
      replace_all(replace_all(replace_all(replace_all(kPraatLong, "item [1]:", "item[1]:"),
                                          "item [2]:", "item[2]:"),
                              "]:\n            ", "]\n            "),
                  "item []:", "item[]:"),
      replace_all(replace_all(kPraatLong, "item [", "item\t ["), "s [", "s\t["),
      // Old Mac line ends.
      replace_all(kPraatLong, "\n", "\r"),
      replace_all(kPraatLong, " \n", "\r"),
      // A point's values under the keys of Praat 4 and the textgrid package,
      // or any key the layout lacks, taken by their place in the item.
      replace_all(replace_all(kPraatLong, "number = ", "time = "), "mark = ", "text = "),
      replace_all(replace_all(kPraatLong, "number = ", "value = "), "mark = ", "label = "),
  };
  for (const auto& text : forms) {
    auto grid = parse(text, true);
    ASSERT_TRUE(grid) << grid.error().message;
    EXPECT_EQ(dump(*grid), kPraatLongDump) << text;
  }
}

TEST(long_reader, tier_kind_from_class_only) {
  auto grid = parse(
      "item [1]:\n intervals: size = 1\n intervals [1]:\n xmin = 1\n xmax = 2\n"
      "item [2]:\n class = \"TextTier\"\n intervals [1]:\n xmin = 3\n xmax = 4\n text = \"x\"\n"
      "item [3]:\n class = IntervalTier\n");
  ASSERT_TRUE(grid) << grid.error().message;
  ASSERT_EQ(grid->tiers.size(), 3u);
  EXPECT_TRUE(grid->tiers[0].is_interval);  // no class line
  EXPECT_FALSE(grid->tiers[1].is_interval);
  EXPECT_EQ(grid->tiers[1].items[0].tmin, 3);
  EXPECT_EQ(grid->tiers[1].items[0].tmax, 4);  // kept as read
  EXPECT_TRUE(grid->tiers[2].is_interval);
}

TEST(long_reader, unknown_class_names_value_with_quotes) {
  EXPECT_EQ(error_of(parse("item [1]:\n class = \"Foo\" \n")), "Unknown tier class: \"Foo\"");
  EXPECT_EQ(error_of(parse("item [1]:\n class = intervaltier\n")),
            "Unknown tier class: intervaltier");
  EXPECT_EQ(error_of(parse("item [1]:\n class = \"intervalTier\"\n")),
            "Unknown tier class: \"intervalTier\"");
  // The class key means nothing outside a tier.
  EXPECT_EQ(error_of(parse("class = \"Foo\"\nitem []:\nclass = \"Foo\"\n")), "ok");
}

TEST(long_reader, item_heading_before_tier_fails_naming_line) {
  EXPECT_EQ(error_of(parse("xmin = 0\n\n  intervals [1]:\n")),
            "Interval or point heading before any tier heading on line 3");
  EXPECT_EQ(error_of(parse("item []:\npoints [1]:\n")),
            "Interval or point heading before any tier heading on line 2");
}

TEST(long_reader, headings_by_prefix) {
  auto grid = parse("item [\nitems = 4\nitem []\nitem [7]\nitem [1]:\n");
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->tiers.size(), 3u);  // "item [", "item [7]", "item [1]:"
}

TEST(long_reader, heading_is_its_word_then_blanks_then_bracket) {
  auto grid = parse(
      "item[]:\nitem [ ]\nitem\t[\t]\nitems [3]\nitem[1]:\nintervals[1]\n"
      "intervalsx [2]\npoints  [1]\npoint [2]\nitem \t[2]\nitem x [3]\n");
  ASSERT_TRUE(grid) << grid.error().message;
  // Tiers: "item[1]:", "item \t[2]"; items of the first: "intervals[1]",
  // "points  [1]". The markers, "items", "intervalsx", "point" and
  // "item x" open nothing.
  ASSERT_EQ(grid->tiers.size(), 2u);
  EXPECT_EQ(grid->tiers[0].items.size(), 2u);
  EXPECT_EQ(grid->tiers[1].items.size(), 0u);
  EXPECT_EQ(error_of(parse("intervals[1]\n")),
            "Interval or point heading before any tier heading on line 1");
  EXPECT_EQ(error_of(parse("item[]:\n  points\t[1]\n")),
            "Interval or point heading before any tier heading on line 2");
}

// A second stretch begins inside a tier whose class it has not seen: values
// taken by their place there are read again by the first stretch alone.
TEST(long_reader, values_by_place_read_alike_in_two_stretches) {
  std::string text = replace_all(kPraatLong, "points: size = 1", "points: size = 40");
  std::string points;
  for (int i = 0; i < 40; ++i) {
    points += "        points [" + std::to_string(i + 1) +
              "]:\n            time = " + std::to_string(i) + " \n            mark = \"p\" \n";
  }
  const std::size_t first_point = text.find("        points [1]:");
  text = text.substr(0, first_point) + points;
  auto one = parse_long_view(text, "g", {.strict = true});
  ASSERT_TRUE(one) << one.error().message;
  const std::size_t split = text.find("        points [21]:");
  auto two = detail::parse_long_view_in_two(text, "g", true, split);
  ASSERT_TRUE(two) << two.error().message;
  EXPECT_EQ(dump(two->to_textgrid()), dump(one->to_textgrid()));
  EXPECT_EQ(one->tiers.at(1).items.at(39).tmin, 39);
}

TEST(long_reader, keys_belong_to_their_section) {
  auto grid = parse(
      "xmin = 1\nxmax = 9\nsize = 1\nitem []:\nxmin = 5\nsize = 7\n"
      "item [1]:\nname = \"w\"\nxmin = 2\nxmax = 8\n"
      "intervals [1]:\nname = \"late\"\nintervals: size = 5\nxmin = 3\nxmax = 4\n"
      "intervals [2]:\nnumber = 6\nmark = \"m\"\nxmin = 7\n");
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->tmin, 1);
  EXPECT_EQ(grid->tmax, 9);
  EXPECT_EQ(grid->size, 1u);
  const Tier& tier = grid->tiers.at(0);
  EXPECT_EQ(tier.name, "w");
  EXPECT_EQ(tier.tmin, 2);
  EXPECT_EQ(tier.tmax, 8);
  EXPECT_EQ(tier.size, 0u);
  ASSERT_EQ(tier.items.size(), 2u);
  EXPECT_EQ(tier.items[0].tmin, 3);
  EXPECT_EQ(tier.items[0].tmax, 4);
  EXPECT_EQ(tier.items[1].tmin, 7);  // later line overwrites
  EXPECT_EQ(tier.items[1].tmax, 6);
  EXPECT_EQ(tier.items[1].text, "m");
}

TEST(long_reader, number_and_count_forms) {
  struct Case {
    const char* value;
    double real;
    std::uint64_t count;
  };
  for (const Case c :
       {Case{".5", 0.5, 0}, Case{"5.", 5, 0}, Case{"1e-3", 0.001, 0}, Case{"1,5", 0, 0},
        Case{"0x10", 0, 0}, Case{"+3", 3, 3}, Case{"3.0", 3, 0}, Case{"-1", -1, 0}, Case{"", 0, 0},
        Case{"18446744073709551616", 18446744073709551616.0, 0}}) {
    auto grid = parse(std::string("xmin = ") + c.value + "\nsize = " + c.value + "\n");
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->tmin, c.real) << c.value;
    EXPECT_EQ(grid->size, c.count) << c.value;
  }
  auto grid = parse("xmin = inf\nxmax = -Infinity\nitem [1]:\nxmin = nan\n");
  ASSERT_TRUE(grid);
  EXPECT_TRUE(std::isinf(grid->tmin) && grid->tmin > 0);
  EXPECT_TRUE(std::isinf(grid->tmax) && grid->tmax < 0);
  EXPECT_TRUE(std::isnan(grid->tiers[0].tmin));
}

struct LabelCase {
  const char* written;  // the value as Praat writes it after "text = "
  const char* label;
};

class long_labels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(long_labels, praat_quoting) {
  auto grid = parse(std::string("item [1]:\nintervals [1]:\n  text = ") + GetParam().written +
                    " \nxmin = 4\n");
  ASSERT_TRUE(grid);
  const Item& item = grid->tiers.at(0).items.at(0);
  EXPECT_EQ(item.text, GetParam().label);
  EXPECT_EQ(item.tmin, 4);  // reading goes on after the label
}

INSTANTIATE_TEST_SUITE_P(
    long_reader, long_labels,
    ::testing::Values(LabelCase{R"("abc")", "abc"}, LabelCase{R"("")", ""},
                      LabelCase{R"("""")", "\""}, LabelCase{R"("""hEl@U")", "\"hEl@U"},
                      LabelCase{R"("say ""hi""")", "say \"hi\""}, LabelCase{R"("end""")", "end\""},
                      LabelCase{R"("a\"b")", R"(a\"b)"}, LabelCase{R"(" a = b ")", " a = b "},
                      LabelCase{"bare", "bare"}, LabelCase{"\"tab\there\"", "tab\there"},
                      LabelCase{"\"h\u00e9\U0001F600\"", "h\u00e9\U0001F600"}));

TEST(long_reader, text_over_several_lines_is_one_value) {
  // Lines inside the text are not headings or keys; bytes are kept exactly.
  const std::string text =
      "item [1]:\r\nintervals [1]:\r\n  text = \"first \r\nitem [2]:\r\n  xmin = 5 \r\n"
      "\"\"quoted\"\" end\" \r\n  xmax = 3\r\n";
  for (const bool crlf : {true, false}) {
    const std::string input = crlf ? text : replace_all(text, "\r\n", "\n");
    const std::string eol = crlf ? "\r\n" : "\n";
    auto grid = parse(input);
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->tiers.size(), 1u);
    const Item& item = grid->tiers[0].items.at(0);
    EXPECT_EQ(item.text,
              "first " + eol + "item [2]:" + eol + "  xmin = 5 " + eol + "\"quoted\" end");
    EXPECT_EQ(item.tmin, 0);
    EXPECT_EQ(item.tmax, 3);
  }
}

// A backslash escapes nothing: the even run of quotes after it leaves the
// text open up to the next line that ends in an odd run, as Praat reads it.
TEST(long_reader, backslash_is_no_escape_of_a_final_quote) {
  auto grid = parse(
      "item [1]:\nintervals [1]:\ntext = \"end\\\"\" \nintervals [2]:\ntext = \"\\\"\"\n"
      "intervals [3]:\ntext = \"b\"\n");
  ASSERT_TRUE(grid);
  const auto& items = grid->tiers.at(0).items;
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].text, "end\\\" \nintervals [2]:\ntext = \"\\\"\nintervals [3]:\ntext = \"b");
}

TEST(long_reader, unclosed_text_keeps_first_line) {
  auto grid = parse("item [1]:\nintervals [1]:\ntext = \"open \"\"x\"\"\nxmin = 2\n");
  ASSERT_TRUE(grid);
  const Item& item = grid->tiers.at(0).items.at(0);
  EXPECT_EQ(item.text, "open \"x\"");
  EXPECT_EQ(item.tmin, 2);
}

TEST(long_reader, multi_line_tier_name) {
  auto grid = parse("item [1]:\nname = \"two\nlines\"\nxmax = 2\n");
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->tiers.at(0).name, "two\nlines");
  EXPECT_EQ(grid->tiers.at(0).tmax, 2);
}

TEST(long_reader, strict_checks_declared_counts) {
  const std::string three = replace_all(kPraatLong, "size = 2 \nitem []", "size = 1 \nitem []");
  auto lenient = parse(three);
  ASSERT_TRUE(lenient);
  EXPECT_EQ(lenient->size, 1u);
  EXPECT_EQ(lenient->tiers.size(), 2u);
  EXPECT_EQ(error_of(parse(three, true)), "TextGrid size does not match number of tiers");

  const std::string items = replace_all(kPraatLong, "intervals: size = 2", "intervals: size = 3");
  EXPECT_EQ(error_of(parse(items)), "ok");
  EXPECT_EQ(error_of(parse(items, true)), "Tier size does not match number of items");
  const std::string no_count = replace_all(kPraatLong, "points: size = 1", "");
  EXPECT_EQ(error_of(parse(no_count, true)), "Tier size does not match number of items");
}

TEST(long_reader, strict_runs_document_check) {
  auto empty = parse("File type = \"ooTextFile\"\n");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->tmin, 0);
  EXPECT_EQ(empty->tmax, 0);
  EXPECT_EQ(empty->size, 0u);
  EXPECT_TRUE(empty->tiers.empty());
  EXPECT_EQ(error_of(parse("", true)), "Time bounds should be non-negative in TextGrid");
  const std::string overlap = replace_all(kPraatLong, "xmin = 1.5 \n", "xmin = 1.4 \n");
  EXPECT_EQ(error_of(parse(overlap)), "ok");
  EXPECT_EQ(error_of(parse(overlap, true)), "Items 0 and 1 overlap in tier words");
}

TEST(long_reader, huge_declared_count_is_harmless) {
  auto grid = parse("item [1]:\nintervals: size = 18446744073709551615\nintervals [1]:\n");
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->tiers.at(0).items.size(), 1u);
}

TEST(read_from_file_long, names_after_stem_and_passes_read_errors) {
  TempDir dir;
  auto grid = read_from_file_long(dir.write("a.b.TextGrid", kPraatLong), true);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->name, "a.b");
  auto missing = read_from_file_long(dir.path("none.TextGrid"), false);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)");
  auto bad = read_from_file_long(dir.write("bad.TextGrid", "xmin = 1\n\xFF"), false);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message, "stream did not contain valid UTF-8");
}

}  // namespace
}  // namespace textgrid
