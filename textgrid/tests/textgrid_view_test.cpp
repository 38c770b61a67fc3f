// The readers' view: labels stay in the file's text (collapsed in place where
// Praat doubled a quote), survive a move of the view, and reading allocates
// per tier and per file, never per item.
#include "model/textgrid_view.hpp"

#include <atomic>
#include <functional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "counting_new.hpp"
#include "formats/parser_long.hpp"
#include "formats/parser_short.hpp"

namespace {
std::atomic<std::size_t> allocations{0};
}  // namespace

void count_allocation(std::size_t) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
}

namespace textgrid {
namespace {

// Two tiers of `n` intervals in the long layout; labels long enough that a
// copy would allocate, some with doubled quotes, some over two lines.
std::string long_document(int n) {
  std::string out =
      "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \nxmax = " +
      std::to_string(n) + " \ntiers? <exists> \nsize = 2 \nitem []: \n";
  for (int t = 1; t <= 2; ++t) {
    out += "    item [" + std::to_string(t) + "]:\n        class = \"IntervalTier\" \n" +
           "        name = \"a tier name longer than a short string\" \n        xmin = 0 \n" +
           "        xmax = " + std::to_string(n) +
           " \n        intervals: size = " + std::to_string(n) + " \n";
    for (int i = 0; i < n; ++i) {
      const char* label = i % 3 == 0   ? "\"a label longer than sixteen bytes\""
                          : i % 3 == 1 ? "\"he said \"\"so\"\" and left the room\""
                                       : "\"first line of the label\nsecond line\"";
      out += "        intervals [" + std::to_string(i + 1) +
             "]:\n            xmin = " + std::to_string(i) +
             " \n            xmax = " + std::to_string(i + 1) + " \n            text = " + label +
             " \n";
    }
  }
  return out;
}

std::size_t allocations_of(const std::function<void()>& body) {
  const std::size_t before = allocations.load();
  body();
  return allocations.load() - before;
}

TEST(textgrid_view, reading_allocates_per_tier_never_per_item) {
  for (const bool strict : {false, true}) {
    const std::string few = long_document(30);
    const std::string many = long_document(3000);
    std::string copy_few = few, copy_many = many;
    const std::size_t for_few = allocations_of([&] {
      ASSERT_TRUE(parse_long_view(std::move(copy_few), "n", {.strict = strict}).has_value());
    });
    const std::size_t for_many = allocations_of([&] {
      ASSERT_TRUE(parse_long_view(std::move(copy_many), "n", {.strict = strict}).has_value());
    });
    EXPECT_EQ(for_few, for_many);
    EXPECT_LE(for_many, 8u);
  }
}

TEST(textgrid_view, labels_are_views_into_the_text_and_survive_a_move) {
  auto read = parse_long_view(long_document(3), "n", {.strict = true});
  ASSERT_TRUE(read.has_value());
  TextGridView view = std::move(*read);
  const std::string& text = *view.text;
  const auto inside = [&](std::string_view s) {
    return s.data() >= text.data() && s.data() + s.size() <= text.data() + text.size();
  };
  ASSERT_EQ(view.tiers.size(), 2u);
  EXPECT_EQ(view.tiers[0].name, "a tier name longer than a short string");
  EXPECT_TRUE(inside(view.tiers[0].name));
  const auto& items = view.tiers[1].items;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].text, "a label longer than sixteen bytes");
  EXPECT_EQ(items[1].text, "he said \"so\" and left the room");
  EXPECT_EQ(items[2].text, "first line of the label\nsecond line");
  for (const ItemView& item : items) EXPECT_TRUE(inside(item.text)) << item.text;
  // The owning model holds the same texts.
  const TextGrid grid = view.to_textgrid();
  EXPECT_EQ(grid.tiers[1].items[1].text, "he said \"so\" and left the room");
  EXPECT_EQ(grid.tiers[0].name, "a tier name longer than a short string");
}

TEST(textgrid_view, short_layout_collapses_in_place_too) {
  const std::string text =
      "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n2\n<exists>\n1\n"
      "\"IntervalTier\"\n\"na\"\"me\"\n0\n2\n2\n0\n1\n\"\"\"\"\n1\n2\n\"two\nlines\"\n";
  auto view = parse_short_view(text, "n", {.strict = true});
  ASSERT_TRUE(view.has_value()) << view.error().message;
  EXPECT_EQ(view->tiers[0].name, "na\"me");
  EXPECT_EQ(view->tiers[0].items[0].text, "\"");
  EXPECT_EQ(view->tiers[0].items[1].text, "two\nlines");
}

TEST(textgrid_view, view_of_an_owning_textgrid_round_trips) {
  const auto grid = parse_long(long_document(5), "n", true);
  ASSERT_TRUE(grid.has_value());
  TextGridView view = view_of(*grid);
  const TextGridView moved = std::move(view);
  const TextGrid back = moved.to_textgrid();
  ASSERT_EQ(back.tiers.size(), grid->tiers.size());
  for (std::size_t t = 0; t < back.tiers.size(); ++t) {
    EXPECT_EQ(back.tiers[t].name, grid->tiers[t].name);
    ASSERT_EQ(back.tiers[t].items.size(), grid->tiers[t].items.size());
    for (std::size_t i = 0; i < back.tiers[t].items.size(); ++i) {
      EXPECT_EQ(back.tiers[t].items[i].text, grid->tiers[t].items[i].text);
      EXPECT_EQ(back.tiers[t].items[i].tmax, grid->tiers[t].items[i].tmax);
    }
  }
}

}  // namespace
}  // namespace textgrid
