#include "model/textgrid.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace textgrid {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string message_of(const Status& status) {
  return status ? std::string("ok") : status.error().message;
}

Tier interval_tier(std::string name, double tmin, double tmax, std::vector<Item> items) {
  Tier tier;
  tier.name = std::move(name);
  tier.tmin = tmin;
  tier.tmax = tmax;
  tier.size = items.size();
  tier.items = std::move(items);
  return tier;
}

Tier point_tier(std::string name, std::vector<double> times) {
  Tier tier = interval_tier(std::move(name), 0, 10, {});
  tier.is_interval = false;
  for (double t : times) tier.items.push_back({t, t, "p"});
  tier.size = tier.items.size();
  return tier;
}

struct BoundsCase {
  double tmin;
  double tmax;
  const char* expected;
};

class bounds : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(bounds, message_per_rule) {
  const auto& c = GetParam();
  EXPECT_EQ(message_of(assert_valid_time_bounds(c.tmin, c.tmax, "ctx")), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    time_bounds, bounds,
    ::testing::Values(BoundsCase{0, 1, "ok"},
                      BoundsCase{0, 0, "Time bounds should be non-negative in ctx"},
                      BoundsCase{-0.5, 1, "Time bounds should be non-negative in ctx"},
                      BoundsCase{2, -1, "Time bounds should be non-negative in ctx"},
                      BoundsCase{0, 0.000001, "tmin should be less than tmax in ctx"},
                      BoundsCase{0, 0.0000011, "ok"},
                      BoundsCase{1, 1.000001, "tmin should be less than tmax in ctx"},
                      BoundsCase{2, 1, "tmin should be less than tmax in ctx"},
                      BoundsCase{-0.0, 1, "ok"}, BoundsCase{kNaN, 1, "ok"},
                      BoundsCase{0, kNaN, "ok"}, BoundsCase{kNaN, kNaN, "ok"}));

TEST(tier_validation, bounds_use_tier_context_even_for_empty_name) {
  EXPECT_EQ(message_of(interval_tier("words", 0, 0, {}).assert_valid()),
            "Time bounds should be non-negative in tier words");
  EXPECT_EQ(message_of(interval_tier("", 1, 1, {}).assert_valid()),
            "tmin should be less than tmax in tier ");
}

TEST(tier_validation, size_is_checked_before_bounds) {
  Tier tier = interval_tier("w", 0, 0, {});
  tier.size = 1;
  EXPECT_EQ(message_of(tier.assert_valid()), "Tier size does not match number of items");
  tier.size = 0;
  tier.tmax = 1;
  EXPECT_EQ(message_of(tier.assert_valid()), "ok");
}

TEST(tier_validation, interval_item_bounds_and_overlaps) {
  EXPECT_EQ(
      message_of(interval_tier("w", 0, 3, {{0, 1, ""}, {1, 2, ""}, {2.5, 3, ""}}).assert_valid()),
      "ok");  // shared boundary and gap
  // 0.000002 - 0.000001 is exactly the tolerance in binary too.
  EXPECT_EQ(
      message_of(interval_tier("w", 0, 3, {{0, 0.000002, ""}, {0.000001, 2, ""}}).assert_valid()),
      "ok");
  EXPECT_EQ(
      message_of(interval_tier("w", 0, 3, {{0, 0.0000021, ""}, {0.000001, 2, ""}}).assert_valid()),
      "Items 0 and 1 overlap in tier w");
  EXPECT_EQ(message_of(interval_tier("w", 0, 3, {{0, 1, ""}, {1, 1, ""}}).assert_valid()),
            "tmin should be less than tmax in item 1 in tier w");
  EXPECT_EQ(message_of(interval_tier("w", 0, 3, {{-1, 1, ""}}).assert_valid()),
            "Time bounds should be non-negative in item 0 in tier w");
  // Items are checked one by one: the overlap of 0 and 1 comes before item 1's bounds.
  EXPECT_EQ(message_of(interval_tier("w", 0, 3, {{0, 2, ""}, {1, -1, ""}}).assert_valid()),
            "Items 0 and 1 overlap in tier w");
  // Items outside the tier's range and NaN times pass.
  EXPECT_EQ(message_of(interval_tier("w", 0, 1, {{5, 6, ""}, {kNaN, kNaN, ""}}).assert_valid()),
            "ok");
}

TEST(tier_validation, point_rules) {
  EXPECT_EQ(message_of(point_tier("t", {1, 1, 2}).assert_valid()), "ok");
  EXPECT_EQ(message_of(point_tier("t", {-3}).assert_valid()), "ok");  // no bounds check
  EXPECT_EQ(message_of(point_tier("t", {kNaN, 1}).assert_valid()), "ok");
  EXPECT_EQ(message_of(point_tier("t", {2, 1}).assert_valid()), "Items 0 and 1 overlap in tier t");

  Tier tier = point_tier("t", {0});
  tier.items[0].tmax = 0.000001;
  EXPECT_EQ(message_of(tier.assert_valid()), "ok");
  tier.items[0].tmax = 0.0000011;
  EXPECT_EQ(message_of(tier.assert_valid()), "Item 0 should have tmin == tmax in PointTier t");
}

TEST(textgrid_validation, order_of_checks) {
  TextGrid grid;
  grid.tmin = 0;
  grid.tmax = 0;
  grid.size = 1;
  EXPECT_EQ(message_of(grid.assert_valid()), "TextGrid size does not match number of tiers");
  grid.size = 0;
  EXPECT_EQ(message_of(grid.assert_valid()), "Time bounds should be non-negative in TextGrid");
  grid.tmax = 1;
  EXPECT_EQ(message_of(grid.assert_valid()), "ok");

  grid.tiers.push_back(interval_tier("a", 0, 1, {{0, 1, ""}}));
  grid.tiers.push_back(interval_tier("b", 0, 1, {{0.5, 0.4, ""}}));
  grid.tiers.push_back(interval_tier("c", 1, 1, {}));
  grid.size = 3;
  EXPECT_EQ(message_of(grid.assert_valid()), "tmin should be less than tmax in item 0 in tier b");
  EXPECT_EQ(grid.assert_valid().error().kind, ErrorKind::InvalidData);
  grid.tiers[1].items[0].tmax = 0.6;
  EXPECT_EQ(message_of(grid.assert_valid()), "tmin should be less than tmax in tier c");
}

TEST(textgrid_validation, tier_outside_document_range_passes) {
  TextGrid grid;
  grid.tmax = 1;
  grid.tiers.push_back(interval_tier("a", 5, 9, {{6, 7, "x"}}));
  grid.size = 1;
  EXPECT_EQ(message_of(grid.assert_valid()), "ok");
}

}  // namespace
}  // namespace textgrid
