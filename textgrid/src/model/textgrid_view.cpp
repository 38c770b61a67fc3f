#include "model/textgrid_view.hpp"

#include <memory>
#include <utility>

namespace textgrid {

Status TierView::assert_valid() const {
  return detail::check_tier(*this);
}

Status TextGridView::assert_valid() const {
  return detail::check_grid(*this);
}

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

TextGridView view_of(const TextGrid& grid) {
  std::size_t bytes = 0;
  for (const Tier& tier : grid.tiers) {
    bytes += tier.name.size();
    for (const Item& item : tier.items) bytes += item.text.size();
  }
  TextGridView view;
  view.text = std::make_unique<std::string>();
  std::string& text = *view.text;
  text.reserve(bytes);  // never grows below: the views taken stay valid
  const auto keep = [&text](const std::string& piece) {
    const std::size_t at = text.size();
    text.append(piece);
    return std::string_view(text.data() + at, piece.size());
  };
  view.name = grid.name;
  view.tmin = grid.tmin;
  view.tmax = grid.tmax;
  view.size = grid.size;
  view.tiers.reserve(grid.tiers.size());
  for (const Tier& tier : grid.tiers) {
    TierView& out = view.tiers.emplace_back();
    out.name = keep(tier.name);
    out.is_interval = tier.is_interval;
    out.tmin = tier.tmin;
    out.tmax = tier.tmax;
    out.size = tier.size;
    out.items.reserve(tier.items.size());
    for (const Item& item : tier.items) {
      out.items.push_back(ItemView{item.tmin, item.tmax, keep(item.text)});
    }
  }
  return view;
}

}  // namespace textgrid
