// Written files read back as the records they were written from, in both
// layouts, through the readers' own entry point.
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/textgrid.hpp"
#include "read/read.hpp"

namespace textgrid {
namespace {

namespace fs = std::filesystem;

bool same_time(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Compares everything that a file carries: the declared sizes and the
// document's name are not written, so they are left out.
void expect_same_records(const TextGrid& got, const TextGrid& want, const std::string& where) {
  EXPECT_TRUE(same_time(got.tmin, want.tmin)) << where;
  EXPECT_TRUE(same_time(got.tmax, want.tmax)) << where;
  ASSERT_EQ(got.tiers.size(), want.tiers.size()) << where;
  for (std::size_t t = 0; t < want.tiers.size(); ++t) {
    const Tier& a = got.tiers[t];
    const Tier& b = want.tiers[t];
    const std::string at = where + ", tier " + std::to_string(t);
    EXPECT_EQ(a.name, b.name) << at;
    EXPECT_EQ(a.is_interval, b.is_interval) << at;
    EXPECT_TRUE(same_time(a.tmin, b.tmin)) << at;
    EXPECT_TRUE(same_time(a.tmax, b.tmax)) << at;
    EXPECT_EQ(a.size, a.items.size()) << at << ": the written count is the real one";
    ASSERT_EQ(a.items.size(), b.items.size()) << at;
    for (std::size_t i = 0; i < b.items.size(); ++i) {
      const Item& x = a.items[i];
      const Item& y = b.items[i];
      const std::string ai = at + ", item " + std::to_string(i);
      EXPECT_TRUE(same_time(x.tmin, y.tmin)) << ai << ": " << x.tmin << " vs " << y.tmin;
      // A point is written with its time alone: it reads back with tmax = tmin.
      EXPECT_TRUE(same_time(x.tmax, b.is_interval ? y.tmax : y.tmin)) << ai;
      EXPECT_EQ(x.text, y.text) << ai;
    }
  }
}

class round_trip : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("roundtrip_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes `grid` in both layouts and reads each file back with every word
  // that should accept it.
  void expect_round_trip(const TextGrid& grid, const std::string& where) {
    for (const bool long_layout : {true, false}) {
      const std::string file = (dir_ / (long_layout ? "long.TextGrid" : "short.TextGrid")).string();
      ASSERT_TRUE(grid.save_textgrid(file, long_layout).has_value()) << where;
      for (const char* word : {long_layout ? "long" : "short", "auto"}) {
        const Result<TextGrid> back = read_from_file(file, false, word);
        ASSERT_TRUE(back.has_value()) << where << " (" << word << "): " << back.error().message;
        expect_same_records(
            *back, grid, where + " written " + (long_layout ? "long" : "short") + ", read " + word);
      }
    }
  }

  fs::path dir_;
};

TEST_F(round_trip, every_data_file_reads_back_the_same) {
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(PLINTH_TEST_DATA_DIR)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    const Result<TextGrid> original = read_from_file(path, false, "auto");
    if (!original) continue;  // the data folder also holds files that must not read
    ++files;
    expect_round_trip(*original, entry.path().filename().string());
  }
  EXPECT_GT(files, 0u) << "no readable file under " << PLINTH_TEST_DATA_DIR;
}

std::string random_text(std::mt19937_64& random) {
  static const std::vector<std::string> pieces = {
      "a",    "word",      " ",     "  ",        "\"",         "\"\"",      "\\",
      "\\\"", "\t",        "\n",    "\r\n",      "é",          "日本語",    "ß",
      "€",    "😀",         "x = 1", "item [1]:", "\"quoted\"", "File type", "<exists>",
      "0.5",  "text = \"", " \"",   "\" "};
  std::string text;
  const std::size_t count = random() % 8;
  for (std::size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
  return text;
}

double random_time(std::mt19937_64& random) {
  switch (random() % 4) {
    case 0: return static_cast<double>(random() % 100000) / 1000.0;
    case 1:
      return std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 80));
    case 2: return 1e-7 * static_cast<double>(random() % 1000);
    default: return static_cast<double>(random() % 1000) * 0.1;
  }
}

TEST_F(round_trip, random_documents_with_awkward_labels) {
  std::mt19937_64 random(3);
  for (int round = 0; round < 60; ++round) {
    TextGrid grid;
    grid.tmin = random_time(random);
    grid.tmax = random_time(random);
    const std::size_t tiers = random() % 4;
    for (std::size_t t = 0; t < tiers; ++t) {
      Tier tier;
      tier.name = random_text(random);
      tier.is_interval = random() % 2 == 0;
      tier.tmin = random_time(random);
      tier.tmax = random_time(random);
      // Some tiers long enough for the pool.
      const std::size_t items = random() % 3 == 0 ? 150 + random() % 200 : random() % 6;
      for (std::size_t i = 0; i < items; ++i) {
        const double a = random_time(random);
        tier.items.push_back({a, tier.is_interval ? random_time(random) : a, random_text(random)});
      }
      tier.size = tier.items.size();
      grid.tiers.push_back(std::move(tier));
    }
    grid.size = grid.tiers.size();
    expect_round_trip(grid, "round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
}

// A backslash and a quote before a line break inside a label: the written
// line ends in an even run of quotes, which leaves the text open.
TEST_F(round_trip, backslash_and_quote_before_a_line_break) {
  TextGrid grid;
  grid.tmax = 1;
  Tier tier{"b\\\"\nc", true, 0, 1, 2, {}};
  tier.items = {{0, 0.5, "a\\\"\nb"}, {0.5, 1, "x\\\"\"\" \r\ny"}};
  grid.tiers.push_back(tier);
  grid.size = 1;
  expect_round_trip(grid, "backslash and quote before a line break");
}

}  // namespace
}  // namespace textgrid
