#include "model/textgrid.hpp"

#include "model/textgrid_view.hpp"

#include <cmath>
#include <string>

namespace textgrid {

namespace {

enum class BoundsProblem { None, Negative, NotIncreasing };

// Comparisons with NaN are false, so NaN never makes a problem.
BoundsProblem check_bounds(double tmin, double tmax) {
  if (tmin < 0.0 || tmax <= 0.0) return BoundsProblem::Negative;
  if (tmax - tmin <= kTimeTolerance) return BoundsProblem::NotIncreasing;
  return BoundsProblem::None;
}

std::unexpected<Error> bounds_failure(BoundsProblem problem, std::string_view context) {
  std::string message = problem == BoundsProblem::Negative
                            ? "Time bounds should be non-negative in "
                            : "tmin should be less than tmax in ";
  message += context;
  return fail(ErrorKind::InvalidData, std::move(message));
}

std::unexpected<Error> overlap_failure(std::size_t i, std::string_view tier_name) {
  return fail(ErrorKind::InvalidData, "Items " + std::to_string(i) + " and " +
                                          std::to_string(i + 1) + " overlap in tier " +
                                          std::string(tier_name));
}

// The tier checks, for the owning model and the reader's view alike.
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

}  // namespace

Status assert_valid_time_bounds(double tmin, double tmax, std::string_view context) {
  const BoundsProblem problem = check_bounds(tmin, tmax);
  if (problem != BoundsProblem::None) return bounds_failure(problem, context);
  return {};
}

Status Tier::assert_valid() const {
  return check_tier(*this);
}

Status TierView::assert_valid() const {
  return check_tier(*this);
}

Status TextGrid::assert_valid() const {
  return check_grid(*this);
}

Status TextGridView::assert_valid() const {
  return check_grid(*this);
}

}  // namespace textgrid
