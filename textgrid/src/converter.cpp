#include "converter.hpp"

namespace textgrid {

// STUB: conversions land later.
Result<TextGrid> make_textgrid(std::vector<Tier>, std::optional<std::string>, std::optional<double>,
                               std::optional<double>) {
  return TextGrid{};
}
Result<TextGrid> from_data(std::vector<TierData>, std::optional<std::string>, std::optional<double>,
                           std::optional<double>) {
  return TextGrid{};
}
TextGridData TextGrid::to_data() const { return {}; }

}  // namespace textgrid
