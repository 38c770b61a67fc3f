// Inputs that the fuzz targets once broke, kept as plain tests so that they
// stay fixed in every build, sanitized or not.
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "formats/parser_short.hpp"
#include "model/textgrid.hpp"
#include "read/read.hpp"
#include "test_files.hpp"
#include "text/text_rules.hpp"

namespace textgrid {
namespace {

TextGrid grid_with_label(std::string label) {
  TextGrid grid;
  grid.tmin = 0;
  grid.tmax = 1;
  Tier& tier = grid.tiers.emplace_back();
  tier.name = "words";
  tier.tmax = 1;
  tier.items.push_back(Item{0, 1, std::move(label)});
  return grid;
}

// A label over several lines of a short-layout file, one of them beginning
// with "item []", made "auto" choose the long reader for the writer's own
// output: the file read back as a TextGrid without tiers.
TEST(auto_marker, line_inside_a_label_over_several_lines_is_not_the_marker) {
  EXPECT_FALSE(has_long_layout_marker("\"a\nitem []: \n\"\n"));
  EXPECT_FALSE(has_long_layout_marker("1\n\"a\n  item []\nb\"\n\"x\"\n"));
  EXPECT_FALSE(has_long_layout_marker("\"a\"\"\nitem []\n\"\n"));  // "" does not close
}

TEST(auto_marker, line_after_a_closed_label_is_the_marker) {
  EXPECT_TRUE(has_long_layout_marker("\"a\nitem []\"\nitem []:\n"));
  EXPECT_TRUE(has_long_layout_marker("\"a\"\nitem []:\n"));
  // A quote that no line closes is a one-line text: the reader goes on with
  // the next line, and so does the search.
  EXPECT_TRUE(has_long_layout_marker("\"a\nitem []:\n"));
  EXPECT_TRUE(has_long_layout_marker("\"a\"\"\nitem []:\n"));
}

TEST(auto_marker, writer_short_layout_with_marker_in_label_reads_back_by_auto) {
  const TextGrid grid = grid_with_label("x\r\nitem []: \r\ny");
  testing::TempDir dir;
  const std::string path = dir.write("grid.TextGrid", grid.to_short_textgrid_string());
  const auto back = read_from_file(path, true, "auto");
  ASSERT_TRUE(back) << back.error().message;
  ASSERT_EQ(back->tiers.size(), 1u);
  ASSERT_EQ(back->tiers[0].items.size(), 1u);
  EXPECT_EQ(back->tiers[0].items[0].text, "x\r\nitem []: \r\ny");
}

}  // namespace
}  // namespace textgrid
