#include "read/read.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_files.hpp"

namespace textgrid {
namespace {

using testing::error_of;
using testing::slurp;
using testing::TempDir;

const std::string kData = PLINTH_TEST_DATA_DIR;

struct ExpectedItem {
  double tmin;
  double tmax;
  std::string text;
};

struct ExpectedTier {
  std::string name;
  bool is_interval;
  double tmin;
  double tmax;
  std::vector<ExpectedItem> items;
};

void expect_records(const TextGrid& grid, double tmin, double tmax,
                    const std::vector<ExpectedTier>& tiers) {
  EXPECT_EQ(grid.tmin, tmin);
  EXPECT_EQ(grid.tmax, tmax);
  EXPECT_EQ(grid.size, tiers.size());
  ASSERT_EQ(grid.tiers.size(), tiers.size());
  for (std::size_t t = 0; t < tiers.size(); ++t) {
    const Tier& got = grid.tiers[t];
    const ExpectedTier& want = tiers[t];
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.is_interval, want.is_interval) << want.name;
    EXPECT_EQ(got.tmin, want.tmin) << want.name;
    EXPECT_EQ(got.tmax, want.tmax) << want.name;
    EXPECT_EQ(got.size, want.items.size()) << want.name;
    ASSERT_EQ(got.items.size(), want.items.size()) << want.name;
    for (std::size_t i = 0; i < want.items.size(); ++i) {
      EXPECT_EQ(got.items[i].tmin, want.items[i].tmin) << want.name << " " << i;
      EXPECT_EQ(got.items[i].tmax, want.items[i].tmax) << want.name << " " << i;
      EXPECT_EQ(got.items[i].text, want.items[i].text) << want.name << " " << i;
    }
  }
}

// What make_samples.py has Praat write.
void expect_quotes_sample(const TextGrid& grid) {
  expect_records(grid, 0, 2.5,
                 {{"words",
                   true,
                   0,
                   2.5,
                   {{0, 0.5, "\"hEl@U"},
                    {0.5, 1.2, "say \"hi\" twice"},
                    {1.2, 1.8, ""},
                    {1.8, 2.5, "two\nlines"}}},
                  {"phones", true, 0, 2.5, {{0, 1.0 / 3.0, "a"}, {1.0 / 3.0, 2.5, "end\""}}},
                  {"events", false, 0, 2.5, {{0.25, 0.25, "\""}, {1, 1, ""}, {2, 2, "b = c"}}}});
}

void expect_unicode_sample(const TextGrid& grid) {
  expect_records(grid, 0, 1.5,
                 {{"ipa",
                   true,
                   0,
                   1.5,
                   {{0, 0.75, "h\u025b\u02c8lo\u028a"}, {0.75, 1.5, "\u4f60\u597d \U0001F600"}}},
                  {"tones", false, 0, 1.5, {{0.5, 0.5, "H*\u00a0L%"}}}});
}

struct Sample {
  const char* file;
  const char* layout;
  bool unicode;
};

class praat_samples : public ::testing::TestWithParam<Sample> {};

TEST_P(praat_samples, read_to_expected_records_by_layout_and_auto) {
  const Sample& sample = GetParam();
  const std::string path = kData + "/" + sample.file;
  for (const char* mode : {sample.layout, "auto"}) {
    auto grid = read_from_file(path, true, mode);
    ASSERT_TRUE(grid) << mode << ": " << grid.error().message;
    EXPECT_EQ(grid->name, std::string(sample.file).substr(0, std::string(sample.file).rfind('.')));
    if (sample.unicode) {
      expect_unicode_sample(*grid);
    } else {
      expect_quotes_sample(*grid);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    read_from_file, praat_samples,
    ::testing::Values(Sample{"praat_quotes_long.TextGrid", "long", false},
                      Sample{"praat_quotes_short.TextGrid", "short", false},
                      Sample{"praat_utf16_long.TextGrid", "long", true},
                      Sample{"praat_utf16_short.TextGrid", "short", true},
                      Sample{"praat_utf8_long.TextGrid", "long", true},
                      Sample{"praat_utf8_short.TextGrid", "short", true},
                      Sample{"praat_quotes_elan_long.TextGrid", "long", false},
                      // Only "auto" reads the chronological and binary layouts.
                      Sample{"praat_quotes_chronological.TextGrid", "auto", false},
                      Sample{"praat_utf16_chronological.TextGrid", "auto", true},
                      Sample{"praat_utf8_chronological.TextGrid", "auto", true},
                      Sample{"praat_quotes_binary.TextGrid", "auto", false},
                      Sample{"praat_utf16_binary.TextGrid", "auto", true}));

TEST(read_from_file, praat_binary_without_tiers) {
  for (const bool strict : {false, true}) {
    auto grid = read_from_file(kData + "/praat_notiers_binary.TextGrid", strict, "auto");
    ASSERT_TRUE(grid) << grid.error().message;
    expect_records(*grid, 0, 1.25, {});
  }
}

// "long" and "short" read these files as before; only "auto" tells them apart.
TEST(read_from_file, named_layouts_do_not_look_for_the_new_ones) {
  for (const char* name : {"praat_quotes_binary.TextGrid", "praat_utf16_binary.TextGrid"}) {
    for (const char* mode : {"long", "short"}) {
      EXPECT_EQ(error_of(read_from_file(kData + "/" + name, false, mode)),
                "stream did not contain valid UTF-8")
          << name << " " << mode;
    }
  }
  const std::string chronological = kData + "/praat_quotes_chronological.TextGrid";
  auto as_short = read_from_file(chronological, false, "short");
  ASSERT_TRUE(as_short) << as_short.error().message;
  EXPECT_EQ(as_short->tiers.size(), 0u);
  auto as_long = read_from_file(chronological, false, "long");
  ASSERT_TRUE(as_long) << as_long.error().message;
  EXPECT_EQ(as_long->tiers.size(), 0u);
}

TEST(read_from_file, auto_chooses_by_the_first_bytes_only) {
  TempDir dir;
  const std::string header = "\"Praat chronological TextGrid text file\"\n";
  const std::string body = "0 1\n1\n\"TextTier\" \"p\" 0 1\n1 0.5 \"x\"\n";
  // The header on a later line, or not first on its line: a short-layout file.
  EXPECT_EQ(error_of(read_from_file(dir.write("late", "\n" + header + body), false, "auto")),
            "Unexpected end of file: line 7 should hold the number of tiers");
  auto chosen = read_from_file(dir.write("first", header + body), true, "auto");
  ASSERT_TRUE(chosen) << chosen.error().message;
  EXPECT_EQ(chosen->tiers.at(0).items.at(0).text, "x");
  // "ooBinaryFile" anywhere but at the start is text.
  EXPECT_EQ(error_of(read_from_file(dir.write("b", " ooBinaryFile\x08TextGrid"), false, "auto")),
            "Unexpected end of file: line 2 should hold the header");
  EXPECT_EQ(error_of(read_from_file(dir.write("b2", "ooBinaryFile\x05Sound"), false, "auto")),
            "Expected the object class \"TextGrid\" at byte 12, found \"Sound\"");
}

TEST(read_from_file, praat_writes_utf16_big_endian_with_mark) {
  const std::string bytes = slurp(kData + "/praat_utf16_long.TextGrid");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFE\xFF");
}

TEST(read_from_file, utf16_little_endian_reads_the_same) {
  TempDir dir;
  for (const char* name : {"praat_utf16_long.TextGrid", "praat_utf16_short.TextGrid"}) {
    std::string bytes = slurp(kData + "/" + name);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    const std::string path = dir.write(name, bytes);
    for (const char* mode : {"long", "short", "auto"}) {
      const std::string word = mode;
      if (word != "auto" && std::string(name).find(word) == std::string::npos) continue;
      auto grid = read_from_file(path, true, mode);
      ASSERT_TRUE(grid) << name << " " << mode << ": " << grid.error().message;
      expect_unicode_sample(*grid);
    }
  }
}

TEST(read_from_file, utf8_mark_stays_on_the_ignored_first_line) {
  TempDir dir;
  for (const char* name : {"praat_quotes_long.TextGrid", "praat_quotes_short.TextGrid"}) {
    const std::string path = dir.write(name, "\xEF\xBB\xBF" + slurp(kData + "/" + name));
    const char* layout = std::string(name).find("long") != std::string::npos ? "long" : "short";
    for (const char* mode : {"auto", layout}) {
      auto grid = read_from_file(path, true, mode);
      ASSERT_TRUE(grid) << name << " " << mode << ": " << grid.error().message;
      expect_quotes_sample(*grid);
    }
  }
}

TEST(read_from_file, malformed_utf16_fails_in_every_mode) {
  TempDir dir;
  std::string bytes = slurp(kData + "/praat_utf16_short.TextGrid");
  bytes.pop_back();
  const std::string path = dir.write("odd.TextGrid", bytes);
  for (const char* mode : {"long", "short", "auto"}) {
    auto grid = read_from_file(path, false, mode);
    ASSERT_FALSE(grid);
    EXPECT_EQ(grid.error().message, "stream did not contain valid UTF-16") << mode;
  }
}

TEST(read_from_file, unknown_file_type_opens_nothing) {
  for (const char* word : {"Short", "LONG", " long", "long ", "", "text"}) {
    auto grid = read_from_file("/no/such/file", false, word);
    ASSERT_FALSE(grid);
    EXPECT_EQ(grid.error().message, std::string("Unknown file type: ") + word);
  }
}

TEST(read_from_file, read_errors_in_every_mode) {
  TempDir dir;
  const std::string bad = dir.write("bad.TextGrid", "File type\n\xC3\x28\n");
  for (const char* mode : {"long", "short", "auto"}) {
    auto missing = read_from_file(dir.path("missing.TextGrid"), false, mode);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)") << mode;
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound) << mode;
    auto invalid = read_from_file(bad, false, mode);
    ASSERT_FALSE(invalid);
    EXPECT_EQ(invalid.error().message, "stream did not contain valid UTF-8") << mode;
  }
}

TEST(read_from_file, auto_marker_only_at_start_of_a_line) {
  TempDir dir;
  // A short-layout file whose name and label hold "item []" stays short.
  const std::string short_text =
      "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n0\n1\n<exists>\n1\n"
      "\"IntervalTier\"\n\"item []\"\n0\n1\n1\n0\n1\n\"a item [] b\"\n";
  auto grid = read_from_file(dir.write("s.TextGrid", short_text), true, "auto");
  ASSERT_TRUE(grid) << grid.error().message;
  ASSERT_EQ(grid->tiers.size(), 1u);
  EXPECT_EQ(grid->tiers[0].name, "item []");
  EXPECT_EQ(grid->tiers[0].items.at(0).text, "a item [] b");

  // Indented marker: long.
  const std::string long_text = "xmin = 0\nxmax = 1\nsize = 0\n \t item []:\n";
  auto long_grid = read_from_file(dir.write("l.TextGrid", long_text), true, "auto");
  ASSERT_TRUE(long_grid) << long_grid.error().message;
  EXPECT_EQ(long_grid->tmax, 1);
}

TEST(read_from_file, auto_on_tiny_file_chooses_short) {
  TempDir dir;
  for (const std::string text : {"", "item ["}) {
    auto grid = read_from_file(dir.write("tiny", text), false, "auto");
    ASSERT_FALSE(grid);
    EXPECT_EQ(grid.error().message.rfind("Unexpected end of file: line ", 0), 0u)
        << grid.error().message;
  }
}

TEST(read_from_file, strict_and_lenient) {
  TempDir dir;
  const std::string path =
      dir.write("overlap.TextGrid",
                "xmin = 0\nxmax = 2\nsize = 1\nitem []:\nitem [1]:\nclass = \"IntervalTier\"\n"
                "name = \"w\"\nxmin = 0\nxmax = 2\nintervals: size = 2\n"
                "intervals [1]:\nxmin = 0\nxmax = 1.5\ntext = \"a\"\n"
                "intervals [2]:\nxmin = 1\nxmax = 2\ntext = \"b\"\n");
  auto lenient = read_from_file(path, false, "auto");
  ASSERT_TRUE(lenient);
  EXPECT_EQ(lenient->tiers.at(0).items.size(), 2u);
  auto strict = read_from_file(path, true, "long");
  ASSERT_FALSE(strict);
  EXPECT_EQ(strict.error().message, "Items 0 and 1 overlap in tier w");
  EXPECT_EQ(strict.error().kind, ErrorKind::InvalidData);
}

}  // namespace
}  // namespace textgrid
