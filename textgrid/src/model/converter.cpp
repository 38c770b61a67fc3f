#include "model/converter.hpp"

#include <cmath>
#include <span>
#include <utility>

#include "model/time_folds.hpp"
#include "parallel/parallel_map.hpp"

namespace textgrid {

Result<TextGrid> make_textgrid(std::vector<Tier> tiers, std::optional<std::string> name,
                               std::optional<double> tmin, std::optional<double> tmax) {
  TextGrid textgrid;
  textgrid.name = name ? std::move(*name) : std::string(kDefaultTextGridName);
  if (tmin) {
    textgrid.tmin = *tmin;
  } else if (!tiers.empty()) {
    double acc = detail::kMinFoldStart;
    for (const Tier& tier : tiers) acc = std::fmin(acc, tier.tmin);
    textgrid.tmin = acc;
  }
  if (tmax) {
    textgrid.tmax = *tmax;
  } else if (!tiers.empty()) {
    double acc = detail::kMaxFoldStart;
    for (const Tier& tier : tiers) acc = std::fmax(acc, tier.tmax);
    textgrid.tmax = acc;
  }
  textgrid.size = tiers.size();
  textgrid.tiers = std::move(tiers);
  if (Status valid = textgrid.assert_valid(); !valid) {
    return std::unexpected(std::move(valid.error()));
  }
  return textgrid;
}

Result<TextGrid> from_data(std::vector<TierData> tiers, std::optional<std::string> name,
                           std::optional<double> tmin, std::optional<double> tmax) {
  std::vector<Tier> built;
  built.reserve(tiers.size());
  for (TierData& data : tiers) {
    // A tier without items has no range of its own and no place in the result.
    if (data.items.empty()) continue;
    Tier tier;
    tier.name = std::move(data.name);
    tier.is_interval = data.is_interval;
    tier.items = parallel_map(std::span<ItemData>(data.items), [](ItemData& item) {
      return Item{item.tmin, item.tmax, std::move(item.label)};
    });
    // The emptied sources are dead weight beside a large tier; drop them now.
    std::vector<ItemData>().swap(data.items);
    tier.size = tier.items.size();
    tier.tmin = tmin ? *tmin : detail::fold_item_starts(tier.items);
    tier.tmax = tmax ? *tmax : detail::fold_item_ends(tier.items);
    built.push_back(std::move(tier));
  }
  return make_textgrid(std::move(built), std::move(name), tmin, tmax);
}

void fill_gaps_of(Tier& tier) {
  std::vector<Item> filled;
  filled.reserve(tier.items.size() * 2 + 1);
  double reached = tier.tmin;
  for (Item& item : tier.items) {
    if (item.tmin > reached) filled.push_back(Item{reached, item.tmin, {}});
    reached = std::fmax(reached, item.tmax);
    filled.push_back(std::move(item));
  }
  if (reached < tier.tmax || filled.empty()) filled.push_back(Item{reached, tier.tmax, {}});
  tier.items = std::move(filled);
  tier.size = tier.items.size();
}

TextGridData TextGrid::to_data(bool use_pool) const {
  TextGridData data;
  data.tmin = tmin;
  data.tmax = tmax;
  data.tiers.reserve(tiers.size());
  const auto copy = [](const Item& item) { return ItemData{item.tmin, item.tmax, item.text}; };
  for (const Tier& tier : tiers) {
    TierData& out = data.tiers.emplace_back(TierData{tier.name, tier.is_interval, {}});
    if (use_pool) {
      out.items = parallel_map(std::span<const Item>(tier.items), copy);
    } else {
      out.items.reserve(tier.items.size());
      for (const Item& item : tier.items) out.items.push_back(copy(item));
    }
  }
  return data;
}

}  // namespace textgrid
