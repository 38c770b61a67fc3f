// The bound folds shared by the constructors of the converter unit: a missing
// bound becomes the smallest start or the largest end of what it covers.
#pragma once

#include <cmath>
#include <limits>
#include <span>

#include "model/textgrid.hpp"

namespace textgrid::detail {

// The starting values of the folds: the largest finite doubles, so a fold over
// nothing but NaN stays at this value instead of becoming NaN or infinite.
inline constexpr double kMinFoldStart = std::numeric_limits<double>::max();
inline constexpr double kMaxFoldStart = -std::numeric_limits<double>::max();

// Returns the IEEE minNum fold of the items' starts (a NaN start is ignored).
inline double fold_item_starts(std::span<const Item> items) {
  double acc = kMinFoldStart;
  for (const Item& item : items) acc = std::fmin(acc, item.tmin);
  return acc;
}

// Returns the IEEE maxNum fold of the items' ends (a NaN end is ignored).
inline double fold_item_ends(std::span<const Item> items) {
  double acc = kMaxFoldStart;
  for (const Item& item : items) acc = std::fmax(acc, item.tmax);
  return acc;
}

}  // namespace textgrid::detail
