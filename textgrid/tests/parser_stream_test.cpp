#include "formats/parser_stream.hpp"

#include <string>

#include <gtest/gtest.h>

#include "formats/parser_short.hpp"
#include "test_files.hpp"

namespace textgrid {
namespace {

using textgrid::testing::dump;
using textgrid::testing::error_of;
using textgrid::testing::replace_all;

// The free text form as Praat's manual teaches it.
const std::string kManual =
    "\"ooTextFile\"\n"
    "\"TextGrid\"\n"
    "0 2.3 ! time domain of TextGrid\n"
    "<exists>\n"
    "2 tiers\n"
    "\"IntervalTier\" \"Mary\" ! type and name of tier 1\n"
    "0 2.3 ! time domain of tier 1\n"
    "2 intervals coming\n"
    "0 1.5 \"say \"\"hi\"\"\" 1.5 2.3 \"two\n"
    "lines\"\n"
    "\"TextTier\" \"bell\" 0 2.3 1 point 0.9 \"ding\" ! and words after the last tier\n";

const std::string kManualDump =
    "g 0.000000 2.300000 2\n"
    "I Mary 0.000000 2.300000 2\n"
    "  0.000000 1.500000 [say \"hi\"]\n"
    "  1.500000 2.300000 [two\nlines]\n"
    "P bell 0.000000 2.300000 1\n"
    "  0.900000 0.900000 [ding]\n";

Result<TextGrid> as_textgrid(Result<TextGridView> view) {
  if (!view) return std::unexpected(view.error());
  return view->to_textgrid();
}

TEST(stream_reader, reads_the_free_text_form_keys_and_all) {
  auto grid = parse_stream(kManual, "g", true);
  ASSERT_TRUE(grid) << grid.error().message;
  EXPECT_EQ(dump(*grid), kManualDump);
  // Praat finds each value past the words before it, keys included; numbers
  // are read from as much of a token as is one.
  const std::string keyed = replace_all(
      replace_all(kManual, "0 2.3 ! time domain of TextGrid", "xmin = 0.0abc x!y xmax = 2.3!"),
      "\"TextTier\" \"bell\"", "class = \"TextTier\" name = \"bell\"");
  auto cr = parse_stream(replace_all(keyed, "\n", "\r"), "g", true);
  ASSERT_TRUE(cr) << cr.error().message;
  EXPECT_EQ(dump(*cr), replace_all(kManualDump, "two\n", "two\r"));
  auto absent = parse_stream("\"ooTextFile\"\n\"TextGrid\" 0 1 <absent>\n", "g", false);
  ASSERT_TRUE(absent) << absent.error().message;
  EXPECT_EQ(dump(*absent), "g 0.000000 1.000000 0\n");
}

TEST(stream_reader, refuses_what_praat_refuses_naming_the_line) {
  const std::string head = "\"ooTextFile\"\n\"TextGrid\"\n";
  const std::pair<std::string, std::string> cases[] = {
      {"\"ooTextFile\"\n", "Unexpected end of file after line 1: expected the object class"},
      {"\"ooTextFile\"\n\"Pitch\"\n", "Object class \"Pitch\" on line 2 is not \"TextGrid\""},
      {head + "0 \"x\" 2.3\n",
       "Found a text on line 3 where the end time of the TextGrid should be"},
      {head + "0\n1 2\n", "Found 2 on line 4 where the tiers' <exists> line should be"},
      {head + "0 1 <maybe>\n", "Found <maybe> on line 3 where the tiers' <exists> line should be"},
      {head + "0 1 <exists> 1\n7\n", "Found 7 on line 4 where the class of tier 0 should be"},
      {head + "0 1 <exists> 1 \"Foo\" \"a\"\n", "Unknown tier class: \"Foo\""},
      {head + "0 1 <exists> 1 \"IntervalTier\" \"a\" 0 1 2 0 1 \"x\"\n",
       "Unexpected end of file after line 3: expected the start time of item 1 of tier 0"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(error_of(parse_stream(text, "g", false)), message) << text;
  }
}

// "auto" hands a text to the free text form's reader only when a line past
// the second holds more than one value or a comment, under Praat's first line.
TEST(stream_reader, auto_takes_the_free_form_only_from_praat_text_files) {
  auto free = as_textgrid(parse_short_or_stream_view(kManual, "g", {.strict = true}));
  ASSERT_TRUE(free) << free.error().message;
  EXPECT_EQ(dump(*free), kManualDump);
  // The short layout, labels with blanks and quotes included, keeps its reader;
  // a text with doubled quotes before the first free line reaches the other
  // reader as it stood.
  const std::string short_layout =
      "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n1\n<exists>\n1\n"
      "\"IntervalTier\"\n\"a \"\"b\"\" c\"\n0\n1\n1\n0\n1\n\"x \"\" ! y\"\n";
  EXPECT_EQ(dump(*as_textgrid(parse_short_or_stream_view(short_layout, "g", {.strict = true}))),
            dump(*parse_short(short_layout, "g", true)));
  auto turned = as_textgrid(parse_short_or_stream_view(
      replace_all(short_layout, "\n0\n1\n1\n", "\n0 1 1\n"), "g", {.strict = true}));
  ASSERT_TRUE(turned) << turned.error().message;
  EXPECT_EQ(dump(*turned), dump(*parse_short(short_layout, "g", true)));
  // Without Praat's first line, the short reader reads it, as before.
  const std::string unknown = replace_all(kManual, "\"ooTextFile\"", "\"TextFile\"");
  EXPECT_EQ(dump(*as_textgrid(parse_short_or_stream_view(unknown, "g", {.strict = false}))),
            dump(*parse_short(unknown, "g", false)));
}

}  // namespace
}  // namespace textgrid
