#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/converter.hpp"

namespace textgrid {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Entry {
  double tmin;
  double tmax;
  std::string label;
  std::string tier;
  bool is_interval;
};

TextGridVectors columns(const std::vector<Entry>& entries) {
  TextGridVectors v;
  for (const Entry& e : entries) {
    v.tmins.push_back(e.tmin);
    v.tmaxs.push_back(e.tmax);
    v.labels.push_back(e.label);
    // Like the module: a run of one name is stored once.
    if (v.tier_names.empty() || v.tier_names.back() != e.tier) v.tier_names.push_back(e.tier);
    v.tier_of.push_back(v.tier_names.size() - 1);
    v.is_intervals.push_back(e.is_interval ? 1 : 0);
  }
  return v;
}

Result<TextGrid> build(TextGridVectors v, std::optional<double> tmin = std::nullopt,
                       std::optional<double> tmax = std::nullopt) {
  return from_vectors(std::move(v), tmin, tmax, std::nullopt);
}

void expect_error(const Result<TextGrid>& result, const std::string& message,
                  ErrorKind kind = ErrorKind::InvalidData) {
  ASSERT_FALSE(result.has_value()) << "expected: " << message;
  EXPECT_EQ(result.error().message, message);
  EXPECT_EQ(result.error().kind, kind);
}

std::vector<std::string> labels_of(const Tier& tier) {
  std::vector<std::string> out;
  for (const Item& item : tier.items) out.push_back(item.text);
  return out;
}

// Each column in turn is one entry short; a NaN start would fail later, so the
// length message proves the length check comes first.
class short_column : public ::testing::TestWithParam<int> {};

TEST_P(short_column, fails_before_anything_is_built) {
  TextGridVectors v = columns(
      {{kNaN, 1.0, "a", "t", true}, {kNaN, 2.0, "b", "t", true}, {2.0, 3.0, "c", "t", true}});
  switch (GetParam()) {
    case 0: v.tmins.pop_back(); break;
    case 1: v.tmaxs.pop_back(); break;
    case 2: v.labels.pop_back(); break;
    case 3: v.tier_of.pop_back(); break;
    default: v.is_intervals.pop_back(); break;
  }
  expect_error(build(std::move(v)), "Input vectors must have the same length",
               ErrorKind::InvalidInput);
}

INSTANTIATE_TEST_SUITE_P(vectors, short_column, ::testing::Range(0, 5));

TEST(from_vectors, empty_columns) {
  expect_error(build({}), "Time bounds should be non-negative in TextGrid");
  auto textgrid = build({}, 0.0, 1.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_TRUE(textgrid->tiers.empty());
  EXPECT_EQ(textgrid->size, 0u);
  EXPECT_EQ(textgrid->name, "ConvertedTextGrid");
}

TEST(from_vectors, tiers_in_order_of_first_appearance) {
  auto textgrid = build(columns(
      {{0.0, 1.0, "b0", "B", true}, {0.0, 1.0, "a0", "A", true}, {1.0, 2.0, "b1", "B", true}}));
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  ASSERT_EQ(textgrid->tiers.size(), 2u);
  EXPECT_EQ(textgrid->tiers[0].name, "B");
  EXPECT_EQ(labels_of(textgrid->tiers[0]), (std::vector<std::string>{"b0", "b1"}));
  EXPECT_EQ(textgrid->tiers[1].name, "A");
  EXPECT_EQ(textgrid->size, 2u);
}

TEST(from_vectors, order_list_not_map_order_over_many_names) {
  // Enough names that a hashed or sorted map would disagree with input order.
  std::vector<Entry> entries;
  for (int i = 0; i < 64; ++i) {
    entries.push_back({0.0, 1.0, "x", "tier" + std::to_string((i * 37) % 64), true});
  }
  auto textgrid = build(columns(entries));
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  ASSERT_EQ(textgrid->tiers.size(), 64u);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(textgrid->tiers[static_cast<std::size_t>(i)].name,
              "tier" + std::to_string((i * 37) % 64));
  }
}

TEST(from_vectors, stored_names_of_one_text_make_one_tier) {
  TextGridVectors v =
      columns({{0.0, 1.0, "a", "w", true}, {0.0, 1.0, "b", "p", true}, {1.0, 2.0, "c", "w", true}});
  ASSERT_EQ(v.tier_names.size(), 3u);  // "w" twice, as an argument may hold it
  auto textgrid = build(std::move(v));
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  ASSERT_EQ(textgrid->tiers.size(), 2u);
  EXPECT_EQ(textgrid->tiers[0].name, "w");
  EXPECT_EQ(labels_of(textgrid->tiers[0]), (std::vector<std::string>{"a", "c"}));
}

TEST(from_vectors, an_entry_without_a_stored_name_is_refused) {
  TextGridVectors v = columns({{0.0, 1.0, "a", "w", true}});
  v.tier_of[0] = 1;
  expect_error(build(std::move(v)), "Tier index out of range", ErrorKind::InvalidInput);
}

TEST(from_vectors, names_differing_in_case_make_two_tiers) {
  auto textgrid = build(columns({{0.0, 1.0, "a", "words", true}, {0.0, 1.0, "b", "Words", true}}));
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  ASSERT_EQ(textgrid->tiers.size(), 2u);
  EXPECT_EQ(textgrid->tiers[0].name, "words");
  EXPECT_EQ(textgrid->tiers[1].name, "Words");
}

TEST(from_vectors, first_entry_fixes_the_kind) {
  auto interval = build(columns({{0.0, 1.0, "a", "t", true}, {1.0, 2.0, "b", "t", false}}));
  ASSERT_TRUE(interval.has_value()) << interval.error();
  ASSERT_EQ(interval->tiers.size(), 1u);
  EXPECT_TRUE(interval->tiers[0].is_interval);
  EXPECT_EQ(interval->tiers[0].size, 2u);
  auto point = build(columns({{1.0, 1.0, "a", "t", false}, {2.0, 2.0, "b", "t", true}}));
  ASSERT_TRUE(point.has_value()) << point.error();
  EXPECT_FALSE(point->tiers[0].is_interval);
}

TEST(from_vectors, stable_sort_by_start_only) {
  auto textgrid = build(
      columns(
          {{2.0, 2.0, "x", "p", false}, {1.0, 1.0, "y", "p", false}, {1.0, 1.0, "z", "p", false}}),
      0.0, 3.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(labels_of(textgrid->tiers[0]), (std::vector<std::string>{"y", "z", "x"}));

  // Ends play no part: a later end within the point tolerance does not move
  // an entry behind one with the same start.
  auto by_start = build(columns({{1.0, 1.0000005, "late", "p", false},
                                 {0.0, 0.0, "first", "p", false},
                                 {1.0, 1.0, "early", "p", false}}),
                        0.0, 3.0);
  ASSERT_TRUE(by_start.has_value()) << by_start.error();
  EXPECT_EQ(labels_of(by_start->tiers[0]), (std::vector<std::string>{"first", "late", "early"}));
}

TEST(from_vectors, sort_of_a_long_tier_keeps_equal_starts_in_input_order) {
  // Large enough for the library's merge sort to leave its insertion-sort runs.
  std::vector<Entry> entries;
  for (int i = 0; i < 500; ++i) {
    const double start = static_cast<double>((i * 7) % 50);
    entries.push_back({start, start, std::to_string(i), "p", false});
  }
  auto textgrid = build(columns(entries), 0.0, 60.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  const std::vector<Item>& items = textgrid->tiers[0].items;
  for (std::size_t i = 1; i < items.size(); ++i) {
    ASSERT_LE(items[i - 1].tmin, items[i].tmin);
    if (items[i - 1].tmin == items[i].tmin) {
      ASSERT_LT(std::stoi(items[i - 1].text), std::stoi(items[i].text));
    }
  }
}

TEST(from_vectors, nan_start_in_a_tier_of_two_or_more_is_an_error) {
  expect_error(build(columns({{0.0, 1.0, "a", "ok", true},
                              {1.0, 2.0, "b", "words", true},
                              {kNaN, 3.0, "c", "words", true}}),
                     0.0, 3.0),
               "Start time is NaN for item 1 in tier words");
  expect_error(build(columns({{kNaN, 1.0, "a", "", true}, {kNaN, 2.0, "b", "", true}}), 0.0, 3.0),
               "Start time is NaN for item 0 in tier ");
}

TEST(from_vectors, nan_in_a_single_entry_tier_needs_no_order) {
  // NaN passes every validation rule; the tier bounds come from the given ones.
  auto textgrid = build(columns({{kNaN, 1.0, "a", "t", true}}), 0.0, 3.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_TRUE(std::isnan(textgrid->tiers[0].items[0].tmin));
  // NaN ends are fine for the sort, and the end fold ignores them.
  auto ends = build(columns({{1.0, kNaN, "a", "t", true}, {0.5, 1.0, "b", "t", true}}));
  ASSERT_TRUE(ends.has_value()) << ends.error();
  EXPECT_EQ(ends->tiers[0].tmin, 0.5);
  EXPECT_EQ(ends->tiers[0].tmax, 1.0);
  EXPECT_EQ(labels_of(ends->tiers[0]), (std::vector<std::string>{"b", "a"}));
}

TEST(from_vectors, tier_bounds_without_global_bounds) {
  auto textgrid = build(columns({{2.0, 2.5, "c", "a", true},
                                 {0.5, 1.0, "x", "b", true},
                                 {1.0, 1.5, "a", "a", true},
                                 {1.0, 4.0, "y", "b", true}}));
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(textgrid->tiers[0].tmin, 1.0);
  EXPECT_EQ(textgrid->tiers[0].tmax, 2.5);
  EXPECT_EQ(textgrid->tiers[1].tmin, 0.5);
  EXPECT_EQ(textgrid->tiers[1].tmax, 4.0);
  EXPECT_EQ(textgrid->tmin, 0.5);
  EXPECT_EQ(textgrid->tmax, 4.0);
}

TEST(from_vectors, points_at_one_time_without_bounds) {
  const std::vector<Entry> points{{1.0, 1.0, "p", "pts", false}, {1.0, 1.0, "q", "pts", false}};
  // Alone, the global bounds equal the point and the document check fails first.
  expect_error(build(columns(points)), "tmin should be less than tmax in TextGrid");
  std::vector<Entry> beside = points;
  beside.push_back({0.0, 2.0, "w", "words", true});
  expect_error(build(columns(beside)), "tmin should be less than tmax in tier pts");
  EXPECT_TRUE(build(columns(beside), 0.0, 2.0).has_value());
}

TEST(to_vectors, columns_in_tier_then_item_order_without_empty_tiers) {
  TextGrid textgrid;
  textgrid.tmin = 0.0;
  textgrid.tmax = 2.0;
  textgrid.tiers.resize(3);
  textgrid.tiers[0] = Tier{"w", true, 0.0, 2.0, 2, {{0.0, 1.0, "a"}, {1.0, 2.0, "b"}}};
  textgrid.tiers[1] = Tier{"empty", false, 0.0, 2.0, 0, {}};
  textgrid.tiers[2] = Tier{"p", false, 0.0, 2.0, 1, {{0.5, 0.5, "c"}}};
  textgrid.size = 3;
  const TextGridVectors v = textgrid.to_vectors();
  EXPECT_EQ(v.tmins, (std::vector<double>{0.0, 1.0, 0.5}));
  EXPECT_EQ(v.tmaxs, (std::vector<double>{1.0, 2.0, 0.5}));
  EXPECT_EQ(v.labels, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(v.tier_names, (std::vector<std::string>{"w", "p"}));
  EXPECT_EQ(v.tier_of, (std::vector<std::size_t>{0, 0, 1}));
  EXPECT_EQ(v.is_intervals, (std::vector<Flag>{1, 1, 0}));

  auto back = build(v, textgrid.tmin, textgrid.tmax);
  ASSERT_TRUE(back.has_value()) << back.error();
  ASSERT_EQ(back->tiers.size(), 2u);
  EXPECT_EQ(back->tiers[0].name, "w");
  EXPECT_EQ(back->tiers[1].name, "p");
}

TEST(to_vectors, round_trip_with_the_global_bounds) {
  TextGrid textgrid;
  textgrid.tmin = 0.0;
  textgrid.tmax = 5.0;
  textgrid.tiers.push_back(
      Tier{"words", true, 0.5, 4.0, 3, {{0.5, 1.0, "a"}, {1.0, 2.0, ""}, {3.0, 4.0, "q\"q"}}});
  textgrid.tiers.push_back(Tier{"beats", false, 1.0, 3.0, 2, {{1.0, 1.0, "x"}, {3.0, 3.0, "y"}}});
  textgrid.size = 2;
  auto back = build(textgrid.to_vectors(), textgrid.tmin, textgrid.tmax);
  ASSERT_TRUE(back.has_value()) << back.error();
  EXPECT_EQ(back->tmin, 0.0);
  EXPECT_EQ(back->tmax, 5.0);
  ASSERT_EQ(back->tiers.size(), 2u);
  for (std::size_t t = 0; t < 2; ++t) {
    const Tier& want = textgrid.tiers[t];
    const Tier& got = back->tiers[t];
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.is_interval, want.is_interval);
    EXPECT_EQ(got.tmin, 0.0);
    EXPECT_EQ(got.tmax, 5.0);
    EXPECT_EQ(got.size, want.size);
    ASSERT_EQ(got.items.size(), want.items.size());
    for (std::size_t i = 0; i < want.items.size(); ++i) {
      EXPECT_EQ(got.items[i].tmin, want.items[i].tmin);
      EXPECT_EQ(got.items[i].tmax, want.items[i].tmax);
      EXPECT_EQ(got.items[i].text, want.items[i].text);
    }
  }
}

TEST(to_vectors, tiers_of_one_name_merge_into_the_first_kind_sorted) {
  TextGrid textgrid;
  textgrid.tmin = 0.0;
  textgrid.tmax = 4.0;
  textgrid.tiers.push_back(Tier{"t", false, 0.0, 4.0, 2, {{1.0, 1.0, "p1"}, {3.0, 3.0, "p3"}}});
  textgrid.tiers.push_back(Tier{"t", true, 0.0, 4.0, 1, {{2.0, 2.0, "p2"}}});
  textgrid.size = 2;
  auto back = build(textgrid.to_vectors(), 0.0, 4.0);
  ASSERT_TRUE(back.has_value()) << back.error();
  ASSERT_EQ(back->tiers.size(), 1u);
  EXPECT_FALSE(back->tiers[0].is_interval);
  EXPECT_EQ(labels_of(back->tiers[0]), (std::vector<std::string>{"p1", "p2", "p3"}));
}

}  // namespace
}  // namespace textgrid
