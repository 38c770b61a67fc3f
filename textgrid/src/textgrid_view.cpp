#include "textgrid_view.hpp"

namespace textgrid {

TextGrid TextGridView::to_textgrid() const {
  TextGrid grid;
  grid.name = name;
  grid.tmin = tmin;
  grid.tmax = tmax;
  grid.size = size;
  grid.tiers.reserve(tiers.size());
  for (const TierView& view : tiers) {
    Tier& tier = grid.tiers.emplace_back();
    tier.name = std::string(view.name);
    tier.is_interval = view.is_interval;
    tier.tmin = view.tmin;
    tier.tmax = view.tmax;
    tier.size = view.size;
    tier.items.reserve(view.items.size());
    for (const ItemView& item : view.items) {
      tier.items.push_back(Item{item.tmin, item.tmax, std::string(item.text)});
    }
  }
  return grid;
}

}  // namespace textgrid
