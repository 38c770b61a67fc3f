// How often the conversions copy a label or a tier name. Texts of odd lengths
// far beyond the small-string buffer make every copy a heap allocation of a
// size nothing else asks for, so counting those sizes counts the copies.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "counting_new.hpp"
#include "model/converter.hpp"

namespace {

constexpr std::size_t kLabelLength = 777;
constexpr std::size_t kNameLength = 555;

std::atomic<std::size_t> label_allocations{0};
std::atomic<std::size_t> name_allocations{0};

}  // namespace

void count_allocation(std::size_t size) noexcept {
  if (size == kLabelLength + 1) label_allocations.fetch_add(1, std::memory_order_relaxed);
  if (size == kNameLength + 1) name_allocations.fetch_add(1, std::memory_order_relaxed);
}

namespace textgrid {
namespace {

struct Copies {
  std::size_t labels;
  std::size_t names;
};

template <class F>
Copies count_copies(F&& body) {
  const std::size_t labels_before = label_allocations.load();
  const std::size_t names_before = name_allocations.load();
  body();
  return {label_allocations.load() - labels_before, name_allocations.load() - names_before};
}

std::string label(char c) {
  return std::string(kLabelLength, c);
}
std::string tier_name(char c) {
  return std::string(kNameLength, c);
}

// Two tiers of `per_tier` intervals each; sized to reach the pool too.
TextGrid sample(std::size_t per_tier) {
  TextGrid textgrid;
  textgrid.tmin = 0.0;
  textgrid.tmax = static_cast<double>(per_tier);
  for (const char c : {'a', 'b'}) {
    Tier tier;
    tier.name = tier_name(c);
    tier.tmin = textgrid.tmin;
    tier.tmax = textgrid.tmax;
    for (std::size_t i = 0; i < per_tier; ++i) {
      const double start = static_cast<double>(i);
      tier.items.push_back({start, start + 1.0, label(c)});
    }
    tier.size = tier.items.size();
    textgrid.tiers.push_back(std::move(tier));
  }
  textgrid.size = textgrid.tiers.size();
  return textgrid;
}

class label_copies : public ::testing::TestWithParam<std::size_t> {};

TEST_P(label_copies, to_data_copies_each_text_once) {
  const TextGrid textgrid = sample(GetParam());
  TextGridData data;
  const Copies copies = count_copies([&] { data = textgrid.to_data(); });
  EXPECT_EQ(copies.labels, 2 * GetParam());
  EXPECT_EQ(copies.names, 2u);
}

TEST_P(label_copies, to_vectors_copies_each_label_once_and_each_name_once) {
  const TextGrid textgrid = sample(GetParam());
  TextGridVectors vectors;
  const Copies copies = count_copies([&] { vectors = textgrid.to_vectors(); });
  EXPECT_EQ(copies.labels, 2 * GetParam());
  EXPECT_EQ(copies.names, 2u);
}

TEST_P(label_copies, from_data_moves_every_text) {
  TextGridData data = sample(GetParam()).to_data();
  const char* first_label = data.tiers[1].items[0].label.data();
  const char* last_label = data.tiers[1].items.back().label.data();
  const char* name = data.tiers[1].name.data();
  Result<TextGrid> textgrid;
  const Copies copies = count_copies([&] {
    textgrid = from_data(std::move(data.tiers), std::nullopt, std::nullopt, std::nullopt);
  });
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(copies.labels, 0u);
  EXPECT_EQ(copies.names, 0u);
  EXPECT_EQ(textgrid->tiers[1].items[0].text.data(), first_label);
  EXPECT_EQ(textgrid->tiers[1].items.back().text.data(), last_label);
  EXPECT_EQ(textgrid->tiers[1].name.data(), name);
}

TEST_P(label_copies, from_vectors_moves_labels_and_the_first_name) {
  TextGridVectors v = sample(GetParam()).to_vectors();
  // Reverse the entries so that every tier needs its sort.
  std::reverse(v.tmins.begin(), v.tmins.end());
  std::reverse(v.tmaxs.begin(), v.tmaxs.end());
  std::reverse(v.labels.begin(), v.labels.end());
  std::reverse(v.tier_of.begin(), v.tier_of.end());
  const char* last_label = v.labels.back().data();  // tier a's first item after the sort
  const char* first_name = v.tier_name(0).data();
  Result<TextGrid> textgrid;
  const Copies copies = count_copies(
      [&] { textgrid = from_vectors(std::move(v), std::nullopt, std::nullopt, std::nullopt); });
  ASSERT_TRUE(textgrid.has_value()) << textgrid.error();
  EXPECT_EQ(copies.labels, 0u);
  EXPECT_EQ(copies.names, 0u);
  ASSERT_EQ(textgrid->tiers.size(), 2u);
  EXPECT_EQ(textgrid->tiers[0].name.data(), first_name);  // tier b comes first now
  EXPECT_EQ(textgrid->tiers[1].items[0].text.data(), last_label);
}

INSTANTIATE_TEST_SUITE_P(tier_sizes, label_copies, ::testing::Values(1, 3, 200));

}  // namespace
}  // namespace textgrid
