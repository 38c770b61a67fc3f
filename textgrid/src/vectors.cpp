#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "converter.hpp"
#include "time_folds.hpp"

namespace textgrid {

namespace {

// One tier in the making: the column entry that named it first (its name and
// its kind come from there) and its items in column order.
struct TierGroup {
  std::size_t first_entry = 0;
  bool is_interval = true;
  std::vector<Item> items;
};

// Orders the items of one tier stably by start. A NaN start has no place in
// that order, so it ends the call with a message naming the tier and the
// item's index among that tier's entries, in column order, from 0.
Status sort_by_start(std::vector<Item>& items, const std::string& tier_name) {
  if (items.size() < 2) return {};
  bool sorted = true;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (std::isnan(items[i].tmin)) {
      return fail(ErrorKind::InvalidData, "Start time is NaN for item " + std::to_string(i) +
                                              " in tier " + tier_name);
    }
    if (i > 0 && items[i].tmin < items[i - 1].tmin) sorted = false;
  }
  if (sorted) return {};
  // Sort small keys, then move every item once, instead of shuffling whole
  // items through every merge pass.
  struct Key {
    double tmin;
    std::size_t index;
  };
  std::vector<Key> keys;
  keys.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) keys.push_back({items[i].tmin, i});
  std::stable_sort(keys.begin(), keys.end(),
                   [](const Key& a, const Key& b) { return a.tmin < b.tmin; });
  std::vector<Item> ordered;
  ordered.reserve(items.size());
  for (const Key& key : keys) ordered.push_back(std::move(items[key.index]));
  items = std::move(ordered);
  return {};
}

}  // namespace

Result<TextGrid> from_vectors(std::vector<double> tmins, std::vector<double> tmaxs,
                              std::vector<std::string> labels,
                              std::vector<std::string> tier_names, std::vector<Flag> is_intervals,
                              std::optional<double> tmin, std::optional<double> tmax,
                              std::optional<std::string> name) {
  const std::size_t count = tmins.size();
  if (tmaxs.size() != count || labels.size() != count || tier_names.size() != count ||
      is_intervals.size() != count) {
    return fail(ErrorKind::InvalidInput, "Input vectors must have the same length");
  }

  // `groups` is the order list: tiers in order of first appearance. The map
  // only finds a name's group; its own iteration order is never used. Its keys
  // view the names column, which stays untouched until grouping is done.
  std::vector<TierGroup> groups;
  std::unordered_map<std::string_view, std::size_t> group_of;
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t last = kNone;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view tier_name = tier_names[i];
    // Entries of one tier usually come in runs; a run needs no map lookup.
    if (last == kNone || tier_name != tier_names[groups[last].first_entry]) {
      const auto [slot, inserted] = group_of.try_emplace(tier_name, groups.size());
      if (inserted) groups.push_back(TierGroup{i, is_intervals[i] != 0, {}});
      last = slot->second;
    }
    groups[last].items.push_back(Item{tmins[i], tmaxs[i], std::move(labels[i])});
  }
  // The items own everything now; give back the columns before sorting.
  std::vector<double>().swap(tmins);
  std::vector<double>().swap(tmaxs);
  std::vector<std::string>().swap(labels);
  std::vector<Flag>().swap(is_intervals);

  std::vector<Tier> tiers;
  tiers.reserve(groups.size());
  for (TierGroup& group : groups) {
    Tier tier;
    tier.name = std::move(tier_names[group.first_entry]);
    tier.is_interval = group.is_interval;
    tier.items = std::move(group.items);
    if (Status sorted = sort_by_start(tier.items, tier.name); !sorted) {
      return std::unexpected(std::move(sorted.error()));
    }
    tier.size = tier.items.size();
    tier.tmin = tmin ? *tmin : detail::fold_item_starts(tier.items);
    tier.tmax = tmax ? *tmax : detail::fold_item_ends(tier.items);
    tiers.push_back(std::move(tier));
  }
  return make_textgrid(std::move(tiers), std::move(name), tmin, tmax);
}

TextGridVectors TextGrid::to_vectors() const {
  std::size_t count = 0;
  for (const Tier& tier : tiers) count += tier.items.size();
  TextGridVectors vectors;
  vectors.tmins.reserve(count);
  vectors.tmaxs.reserve(count);
  vectors.labels.reserve(count);
  vectors.tier_names.reserve(count);
  vectors.is_intervals.reserve(count);
  for (const Tier& tier : tiers) {
    for (const Item& item : tier.items) {
      vectors.tmins.push_back(item.tmin);
      vectors.tmaxs.push_back(item.tmax);
      vectors.labels.push_back(item.text);
      vectors.is_intervals.push_back(tier.is_interval ? Flag{1} : Flag{0});
      vectors.tier_names.push_back(tier.name);
    }
  }
  return vectors;
}

}  // namespace textgrid
