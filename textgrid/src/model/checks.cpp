#include "model/checks.hpp"

#include <string>
#include <utility>

namespace textgrid {

std::unexpected<Error> detail::bounds_failure(BoundsProblem problem, std::string_view context) {
  std::string message = problem == BoundsProblem::Negative
                            ? "Time bounds should be non-negative in "
                            : "tmin should be less than tmax in ";
  message += context;
  return fail(ErrorKind::InvalidData, std::move(message));
}

std::unexpected<Error> detail::overlap_failure(std::size_t i, std::string_view tier_name) {
  return fail(ErrorKind::InvalidData, "Items " + std::to_string(i) + " and " +
                                          std::to_string(i + 1) + " overlap in tier " +
                                          std::string(tier_name));
}

Status assert_valid_time_bounds(double tmin, double tmax, std::string_view context) {
  const detail::BoundsProblem problem = detail::check_bounds(tmin, tmax);
  if (problem != detail::BoundsProblem::None) return detail::bounds_failure(problem, context);
  return {};
}

}  // namespace textgrid
