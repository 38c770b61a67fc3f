#include "model/textgrid.hpp"

namespace textgrid {

Status Tier::assert_valid() const {
  return detail::check_tier(*this);
}

Status TextGrid::assert_valid() const {
  return detail::check_grid(*this);
}

}  // namespace textgrid
