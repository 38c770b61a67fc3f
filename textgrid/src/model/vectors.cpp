#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "model/converter.hpp"
#include "model/time_folds.hpp"

namespace textgrid {

namespace {

// One tier in the making: the column entry that named it first (its name and
// its kind come from there) and its items in column order.
struct TierGroup {
  std::size_t first_entry = 0;
  bool is_interval = true;
  std::vector<Item> items;
};

}  // namespace

Status sort_by_start(std::vector<Item>& items, const std::string& tier_name) {
  if (items.size() < 2) return {};
  bool sorted = true;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (std::isnan(items[i].tmin)) {
      return fail(ErrorKind::InvalidData,
                  "Start time is NaN for item " + std::to_string(i) + " in tier " + tier_name);
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

Result<TextGrid> from_vectors(TextGridVectors columns, std::optional<double> tmin,
                              std::optional<double> tmax, std::optional<std::string> name) {
  const std::size_t count = columns.tmins.size();
  if (columns.tmaxs.size() != count || columns.labels.size() != count ||
      columns.tier_of.size() != count || columns.is_intervals.size() != count) {
    return fail(ErrorKind::InvalidInput, "Input vectors must have the same length");
  }
  for (const std::size_t name_index : columns.tier_of) {
    if (name_index >= columns.tier_names.size()) {
      return fail(ErrorKind::InvalidInput, "Tier index out of range");
    }
  }

  // `groups` is the order list: tiers in order of first appearance. The map
  // only finds a name's group, once per stored name (several stored names may
  // hold one text); its own iteration order is never used. Its keys view the
  // names, which stay untouched until grouping is done.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<TierGroup> groups;
  std::vector<std::size_t> group_of_name(columns.tier_names.size(), kNone);
  std::unordered_map<std::string_view, std::size_t> group_of_text;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t& group = group_of_name[columns.tier_of[i]];
    if (group == kNone) {
      const auto [slot, inserted] = group_of_text.try_emplace(columns.tier_name(i), groups.size());
      if (inserted) groups.push_back(TierGroup{i, columns.is_intervals[i] != 0, {}});
      group = slot->second;
    }
    groups[group].items.push_back(
        Item{columns.tmins[i], columns.tmaxs[i], std::move(columns.labels[i])});
  }
  // The items own everything now; give back the columns before sorting.
  std::vector<double>().swap(columns.tmins);
  std::vector<double>().swap(columns.tmaxs);
  std::vector<std::string>().swap(columns.labels);
  std::vector<Flag>().swap(columns.is_intervals);

  std::vector<Tier> tiers;
  tiers.reserve(groups.size());
  for (TierGroup& group : groups) {
    Tier tier;
    tier.name = std::move(columns.tier_names[columns.tier_of[group.first_entry]]);
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
  std::size_t named = 0;
  for (const Tier& tier : tiers) {
    count += tier.items.size();
    named += tier.items.empty() ? 0 : 1;
  }
  TextGridVectors vectors;
  vectors.tmins.reserve(count);
  vectors.tmaxs.reserve(count);
  vectors.labels.reserve(count);
  vectors.tier_of.reserve(count);
  vectors.is_intervals.reserve(count);
  vectors.tier_names.reserve(named);
  for (const Tier& tier : tiers) {
    // A tier without items leaves no trace, its name included.
    if (tier.items.empty()) continue;
    const std::size_t name_index = vectors.tier_names.size();
    vectors.tier_names.push_back(tier.name);
    for (const Item& item : tier.items) {
      vectors.tmins.push_back(item.tmin);
      vectors.tmaxs.push_back(item.tmax);
      vectors.labels.push_back(item.text);
      vectors.is_intervals.push_back(tier.is_interval ? Flag{1} : Flag{0});
      vectors.tier_of.push_back(name_index);
    }
  }
  return vectors;
}

}  // namespace textgrid
