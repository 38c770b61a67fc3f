// The validation rules of the records: declared sizes, time bounds, items in
// order without overlap. Written once, as templates over the record shapes,
// for the owning TextGrid and the reader's TextGridView alike; each failure
// is a value of kind InvalidData with its own message.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace textgrid {

// Every comparison between two times allows this much, in seconds.
inline constexpr double kTimeTolerance = 0.000001;

// Fails with "Time bounds should be non-negative in <context>" when
// tmin < 0 or tmax <= 0, else with "tmin should be less than tmax in
// <context>" when tmax - tmin <= 0.000001. NaN never fails. Allocates only on
// failure.
Status assert_valid_time_bounds(double tmin, double tmax, std::string_view context);

namespace detail {

enum class BoundsProblem { None, Negative, NotIncreasing };

// Comparisons with NaN are false, so NaN never makes a problem. Inline: the
// check of a large tier calls it for every item.
inline BoundsProblem check_bounds(double tmin, double tmax) {
  if (tmin < 0.0 || tmax <= 0.0) return BoundsProblem::Negative;
  if (tmax - tmin <= kTimeTolerance) return BoundsProblem::NotIncreasing;
  return BoundsProblem::None;
}

// The failures of the checks below, built only when one fails.
std::unexpected<Error> bounds_failure(BoundsProblem problem, std::string_view context);
std::unexpected<Error> overlap_failure(std::size_t i, std::string_view tier_name);

// The tier checks: declared size, the tier's bounds, then every item in order.
template <class TierRecord>
Status check_tier(const TierRecord& tier) {
  const std::string_view name = tier.name;
  const auto& items = tier.items;
  if (tier.size != items.size()) {
    return fail(ErrorKind::InvalidData, "Tier size does not match number of items");
  }
  if (const BoundsProblem problem = check_bounds(tier.tmin, tier.tmax);
      problem != BoundsProblem::None) {
    return bounds_failure(problem, "tier " + std::string(name));
  }
  const std::size_t n = items.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto& item = items[i];
    if (tier.is_interval) {
      // The context is built only on failure: a large tier checks cheaply.
      if (const BoundsProblem problem = check_bounds(item.tmin, item.tmax);
          problem != BoundsProblem::None) {
        return bounds_failure(problem,
                              "item " + std::to_string(i) + " in tier " + std::string(name));
      }
    } else if (std::fabs(item.tmin - item.tmax) > kTimeTolerance) {
      return fail(ErrorKind::InvalidData, "Item " + std::to_string(i) +
                                              " should have tmin == tmax in PointTier " +
                                              std::string(name));
    }
    if (i + 1 < n && item.tmax - items[i + 1].tmin > kTimeTolerance) {
      return overlap_failure(i, name);
    }
  }
  return {};
}

// The document check: declared size, then the bounds ("TextGrid"), then every
// tier in order by its own assert_valid.
template <class GridRecord>
Status check_grid(const GridRecord& grid) {
  if (grid.size != grid.tiers.size()) {
    return fail(ErrorKind::InvalidData, "TextGrid size does not match number of tiers");
  }
  if (auto bounds = assert_valid_time_bounds(grid.tmin, grid.tmax, "TextGrid"); !bounds) {
    return bounds;
  }
  for (const auto& tier : grid.tiers) {
    if (auto checked = tier.assert_valid(); !checked) return checked;
  }
  return {};
}

}  // namespace detail

}  // namespace textgrid
