#include "model/converter.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "base/cpus.hpp"
#include "parallel/pool_testing.hpp"

namespace textgrid {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

Tier make_tier(std::string name, bool is_interval, double tmin, double tmax,
               std::vector<Item> items) {
  Tier tier;
  tier.name = std::move(name);
  tier.is_interval = is_interval;
  tier.tmin = tmin;
  tier.tmax = tmax;
  tier.size = items.size();
  tier.items = std::move(items);
  return tier;
}

void expect_error(const auto& result, const std::string& message) {
  ASSERT_FALSE(result.has_value()) << "expected: " << message;
  EXPECT_EQ(result.error().message, message);
  EXPECT_EQ(result.error().kind, ErrorKind::InvalidData);
}

// A valid document with an empty tier, a point tier and an interval tier.
TextGrid sample_textgrid() {
  TextGrid textgrid;
  textgrid.name = "sample";
  textgrid.tmin = 0.0;
  textgrid.tmax = 3.0;
  textgrid.tiers.push_back(make_tier(
      "words", true, 0.0, 3.0, {{0.0, 1.25, "a"}, {1.25, 2.5, ""}, {2.5, 3.0, "say \"hi\""}}));
  textgrid.tiers.push_back(make_tier("empty", true, 0.0, 3.0, {}));
  textgrid.tiers.push_back(make_tier("beats", false, 0.5, 2.0, {{0.5, 0.5, "x"}, {2.0, 2.0, "y"}}));
  textgrid.size = textgrid.tiers.size();
  return textgrid;
}

TEST(make_textgrid, default_name_and_size) {
  std::vector<Tier> tiers;
  tiers.push_back(make_tier("a", true, 0.0, 1.0, {{0.0, 1.0, "x"}}));
  auto textgrid = make_textgrid(std::move(tiers), std::nullopt, std::nullopt, std::nullopt);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(textgrid->name, "ConvertedTextGrid");
  EXPECT_EQ(textgrid->size, 1u);
  auto named = make_textgrid({}, "mine", 0.0, 1.0);
  ASSERT_TRUE(named.has_value());
  EXPECT_EQ(named->name, "mine");
}

TEST(make_textgrid, missing_bounds_fold_over_tiers_ignoring_nan) {
  // A NaN tier bound in either position must not leak into the global bounds.
  for (const bool nan_first : {true, false}) {
    std::vector<Tier> tiers;
    Tier nan_tier = make_tier("nan", true, kNaN, kNaN, {});
    Tier real = make_tier("real", true, 1.0, 4.0, {});
    if (nan_first) tiers.push_back(std::move(nan_tier));
    tiers.push_back(std::move(real));
    if (!nan_first) tiers.push_back(make_tier("nan", true, kNaN, kNaN, {}));
    tiers.push_back(make_tier("inner", true, 2.0, 3.0, {}));
    auto textgrid = make_textgrid(std::move(tiers), std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
    EXPECT_EQ(textgrid->tmin, 1.0);
    EXPECT_EQ(textgrid->tmax, 4.0);
  }
}

TEST(make_textgrid, all_nan_starts_leave_the_fold_at_the_largest_double) {
  std::vector<Tier> tiers;
  tiers.push_back(make_tier("a", true, kNaN, 5.0, {}));
  auto textgrid = make_textgrid(std::move(tiers), std::nullopt, std::nullopt, std::nullopt);
  expect_error(textgrid, "tmin should be less than tmax in TextGrid");
  // With only the end given, the start still comes from the fold.
  std::vector<Tier> again;
  again.push_back(make_tier("a", true, kNaN, kNaN, {}));
  auto wide = make_textgrid(std::move(again), std::nullopt, std::nullopt, kMax);
  expect_error(wide, "tmin should be less than tmax in TextGrid");
}

TEST(make_textgrid, given_bounds_are_not_compared_with_tiers) {
  std::vector<Tier> tiers;
  tiers.push_back(make_tier("a", true, 0.0, 10.0, {{0.0, 10.0, "x"}}));
  auto textgrid = make_textgrid(std::move(tiers), std::nullopt, 2.0, 3.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(textgrid->tmin, 2.0);
  EXPECT_EQ(textgrid->tmax, 3.0);
}

TEST(from_data, empty_input_without_bounds_fails_on_the_document_bounds) {
  expect_error(from_data({}, std::nullopt, std::nullopt, std::nullopt),
               "Time bounds should be non-negative in TextGrid");
  std::vector<TierData> only_empty{{"t", true, {}}};
  expect_error(from_data(std::move(only_empty), std::nullopt, std::nullopt, std::nullopt),
               "Time bounds should be non-negative in TextGrid");
}

TEST(from_data, empty_input_with_bounds_is_valid) {
  auto textgrid = from_data({}, std::nullopt, 0.0, 5.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_TRUE(textgrid->tiers.empty());
  EXPECT_EQ(textgrid->size, 0u);
  EXPECT_EQ(textgrid->tmin, 0.0);
  EXPECT_EQ(textgrid->tmax, 5.0);
  EXPECT_EQ(textgrid->name, "ConvertedTextGrid");
}

TEST(from_data, tiers_without_items_are_left_out_in_order) {
  std::vector<TierData> tiers{
      {"first", true, {{0.0, 1.0, "a"}}}, {"gone", false, {}}, {"last", false, {{0.5, 0.5, "p"}}}};
  auto textgrid = from_data(std::move(tiers), "n", 0.0, 1.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  ASSERT_EQ(textgrid->tiers.size(), 2u);
  EXPECT_EQ(textgrid->size, 2u);
  EXPECT_EQ(textgrid->tiers[0].name, "first");
  EXPECT_EQ(textgrid->tiers[1].name, "last");
  EXPECT_FALSE(textgrid->tiers[1].is_interval);
  EXPECT_EQ(textgrid->tiers[1].size, 1u);
}

TEST(from_data, given_bounds_replace_tier_bounds_and_items_stay_unsorted) {
  std::vector<TierData> tiers{{"p", false, {{1.0, 1.0, "a"}, {2.0, 2.0, "b"}, {3.0, 3.0, "c"}}},
                              {"i", true, {{0.5, 0.75, "x"}, {1.0, 1.5, "y"}}}};
  auto textgrid = from_data(std::move(tiers), std::nullopt, 0.0, 4.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  // Given global bounds replace every tier's own.
  for (const Tier& tier : textgrid->tiers) {
    EXPECT_EQ(tier.tmin, 0.0);
    EXPECT_EQ(tier.tmax, 4.0);
  }

  std::vector<TierData> unsorted{{"p", false, {{3.0, 3.0, "c"}, {1.0, 1.0, "a"}}}};
  // Items stay in input order, so the backward points reach the tier check.
  expect_error(from_data(std::move(unsorted), std::nullopt, std::nullopt, std::nullopt),
               "Items 0 and 1 overlap in tier p");
}

TEST(from_data, tier_bounds_without_global_bounds) {
  std::vector<TierData> tiers{{"a", true, {{1.5, 2.0, "x"}, {2.0, 2.25, "y"}}},
                              {"b", true, {{0.5, 1.0, "z"}, {1.0, 3.0, "w"}}}};
  auto textgrid = from_data(std::move(tiers), std::nullopt, std::nullopt, std::nullopt);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(textgrid->tiers[0].tmin, 1.5);
  EXPECT_EQ(textgrid->tiers[0].tmax, 2.25);
  EXPECT_EQ(textgrid->tiers[1].tmin, 0.5);
  EXPECT_EQ(textgrid->tiers[1].tmax, 3.0);
  EXPECT_EQ(textgrid->tmin, 0.5);
  EXPECT_EQ(textgrid->tmax, 3.0);
}

TEST(from_data, only_the_start_given_keeps_the_folded_end) {
  std::vector<TierData> tiers{{"a", true, {{1.5, 2.0, "x"}}}};
  auto textgrid = from_data(std::move(tiers), std::nullopt, 0.0, std::nullopt);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(textgrid->tiers[0].tmin, 0.0);
  EXPECT_EQ(textgrid->tiers[0].tmax, 2.0);
  EXPECT_EQ(textgrid->tmin, 0.0);
  EXPECT_EQ(textgrid->tmax, 2.0);
}

TEST(from_data, nan_item_times_are_ignored_by_the_tier_folds) {
  std::vector<TierData> tiers{{"a", true, {{kNaN, 1.0, "x"}, {1.0, kNaN, "y"}, {2.0, 3.0, "z"}}}};
  auto textgrid = from_data(std::move(tiers), std::nullopt, std::nullopt, std::nullopt);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(textgrid->tiers[0].tmin, 1.0);
  EXPECT_EQ(textgrid->tiers[0].tmax, 3.0);
  // A NaN in last place must not stick to the fold either.
  std::vector<TierData> last{{"b", true, {{1.0, 2.0, "x"}, {2.0, 3.0, "y"}, {kNaN, kNaN, "z"}}}};
  auto trailing = from_data(std::move(last), std::nullopt, std::nullopt, std::nullopt);
  ASSERT_TRUE(trailing.has_value()) << trailing.error();
  EXPECT_EQ(trailing->tiers[0].tmin, 1.0);
  EXPECT_EQ(trailing->tiers[0].tmax, 3.0);
}

// The document check runs before the tier checks, so a lone point names the
// TextGrid; only a wider tier beside it lets the point tier's own rule speak.
TEST(from_data, single_point_tier_without_bounds) {
  std::vector<TierData> alone{{"pts", false, {{1.0, 1.0, "p"}}}};
  expect_error(from_data(std::move(alone), std::nullopt, std::nullopt, std::nullopt),
               "tmin should be less than tmax in TextGrid");

  std::vector<TierData> beside{{"pts", false, {{1.0, 1.0, "p"}}},
                               {"words", true, {{0.0, 2.0, "w"}}}};
  expect_error(from_data(std::move(beside), std::nullopt, std::nullopt, std::nullopt),
               "tmin should be less than tmax in tier pts");

  std::vector<TierData> bounded{{"pts", false, {{1.0, 1.0, "p"}}}};
  auto textgrid = from_data(std::move(bounded), std::nullopt, 0.0, 2.0);
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
}

TEST(from_data, first_failure_in_tier_order_wins) {
  std::vector<TierData> tiers{{"ok", true, {{0.0, 1.0, "a"}}},
                              {"overlap", true, {{0.0, 2.0, "b"}, {1.0, 3.0, "c"}}},
                              {"pts", false, {{1.0, 1.5, "p"}}}};
  expect_error(from_data(std::move(tiers), std::nullopt, 0.0, 3.0),
               "Items 0 and 1 overlap in tier overlap");
}

TEST(to_data, copies_every_tier_including_empty_ones) {
  const TextGrid textgrid = sample_textgrid();
  const TextGridData data = textgrid.to_data();
  EXPECT_EQ(data.tmin, 0.0);
  EXPECT_EQ(data.tmax, 3.0);
  ASSERT_EQ(data.tiers.size(), 3u);
  EXPECT_EQ(data.tiers[0].name, "words");
  EXPECT_TRUE(data.tiers[0].is_interval);
  ASSERT_EQ(data.tiers[0].items.size(), 3u);
  EXPECT_EQ(data.tiers[0].items[2].tmin, 2.5);
  EXPECT_EQ(data.tiers[0].items[2].tmax, 3.0);
  EXPECT_EQ(data.tiers[0].items[2].label, "say \"hi\"");
  EXPECT_EQ(data.tiers[1].name, "empty");
  EXPECT_TRUE(data.tiers[1].items.empty());
  EXPECT_FALSE(data.tiers[2].is_interval);
  EXPECT_EQ(data.tiers[2].items[1].label, "y");
  // The source is left as it was.
  EXPECT_EQ(textgrid.tiers[0].items[2].text, "say \"hi\"");
}

TEST(to_data, round_trip_through_from_data_with_the_global_bounds) {
  const TextGrid original = sample_textgrid();
  auto rebuilt = from_data(original.to_data().tiers, std::nullopt, original.tmin, original.tmax);
  ASSERT_TRUE(rebuilt.has_value()) << rebuilt.error();
  ASSERT_EQ(rebuilt->tiers.size(), 2u);  // the empty tier is gone
  const std::vector<std::size_t> kept{0, 2};
  for (std::size_t t = 0; t < kept.size(); ++t) {
    const Tier& want = original.tiers[kept[t]];
    const Tier& got = rebuilt->tiers[t];
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.is_interval, want.is_interval);
    EXPECT_EQ(got.tmin, original.tmin);
    EXPECT_EQ(got.tmax, original.tmax);
    EXPECT_EQ(got.size, want.items.size());
    ASSERT_EQ(got.items.size(), want.items.size());
    for (std::size_t i = 0; i < want.items.size(); ++i) {
      EXPECT_EQ(got.items[i].tmin, want.items[i].tmin);
      EXPECT_EQ(got.items[i].tmax, want.items[i].tmax);
      EXPECT_EQ(got.items[i].text, want.items[i].text);
    }
  }
}

// Tier sizes around the parallel threshold (10 per CPU) and the smallest
// cuttable range (40), on one worker and on several: the pool path must give
// the sequential result.
class tier_size : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(tier_size, to_data_and_from_data_keep_every_item_in_order) {
  detail::reset_thread_pool_for_testing(std::get<0>(GetParam()));
  const std::size_t threshold = parallel_threshold();
  const std::size_t sizes[] = {threshold - 1, threshold, threshold + 1, std::get<1>(GetParam())};
  for (const std::size_t count : sizes) {
    std::vector<Item> items;
    for (std::size_t i = 0; i < count; ++i) {
      const double start = static_cast<double>(i);
      items.push_back({start, start + 1.0, std::string("label ").append(std::to_string(i))});
    }
    TextGrid textgrid;
    textgrid.tmin = 0.0;
    textgrid.tmax = static_cast<double>(count) + 1.0;
    textgrid.tiers.push_back(make_tier("t", true, textgrid.tmin, textgrid.tmax, items));
    textgrid.size = 1;

    const TextGridData data = textgrid.to_data();
    ASSERT_EQ(data.tiers[0].items.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(data.tiers[0].items[i].tmin, items[i].tmin) << count << " " << i;
      ASSERT_EQ(data.tiers[0].items[i].label, items[i].text) << count << " " << i;
    }
    if (count == 0) continue;
    auto rebuilt = from_data(data.tiers, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(rebuilt.has_value()) << rebuilt.error();
    const std::vector<Item>& got = rebuilt->tiers[0].items;
    ASSERT_EQ(got.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(got[i].tmin, items[i].tmin) << count << " " << i;
      ASSERT_EQ(got[i].tmax, items[i].tmax) << count << " " << i;
      ASSERT_EQ(got[i].text, items[i].text) << count << " " << i;
    }
    EXPECT_EQ(rebuilt->tiers[0].tmin, 0.0);
    EXPECT_EQ(rebuilt->tiers[0].tmax, static_cast<double>(count));
  }
}

INSTANTIATE_TEST_SUITE_P(workers, tier_size,
                         ::testing::Combine(::testing::Values(1u, 4u),
                                            ::testing::Values(0u, 1u, 39u, 40u, 41u, 4099u)));

TEST(fill_gaps_of, gaps_become_empty_intervals_over_the_bounds) {
  using Items = std::vector<std::tuple<double, double, std::string>>;
  const auto filled = [](double tmin, double tmax, std::vector<Item> items) {
    Tier tier = make_tier("t", true, tmin, tmax, std::move(items));
    fill_gaps_of(tier);
    EXPECT_EQ(tier.size, tier.items.size());
    Items out;
    for (const Item& item : tier.items) out.emplace_back(item.tmin, item.tmax, item.text);
    return out;
  };
  EXPECT_EQ(filled(0, 3, {}), (Items{{0, 3, ""}}));
  EXPECT_EQ(filled(0, 3, {{0, 3, "a"}}), (Items{{0, 3, "a"}}));
  EXPECT_EQ(filled(0, 3, {{1, 2, "a"}}), (Items{{0, 1, ""}, {1, 2, "a"}, {2, 3, ""}}));
  EXPECT_EQ(filled(0, 3, {{0, 1, "a"}, {2, 3, "b"}}),
            (Items{{0, 1, "a"}, {1, 2, ""}, {2, 3, "b"}}));
  // Overlaps and items beyond the bounds stay for the validation to report.
  EXPECT_EQ(filled(0, 3, {{0, 2, "a"}, {1, 3, "b"}}), (Items{{0, 2, "a"}, {1, 3, "b"}}));
  EXPECT_EQ(filled(1, 2, {{0, 3, "a"}}), (Items{{0, 3, "a"}}));
}

}  // namespace
}  // namespace textgrid
