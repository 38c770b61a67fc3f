#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "arrow/arrow_table.hpp"
#include "model/converter.hpp"
#include "parallel/pool_testing.hpp"
#include "parallel/thread_pool.hpp"
#include "read/batch.hpp"
#include "read/read.hpp"
#include "test_files.hpp"

namespace textgrid {
namespace {

// A batch's rows read back from its buffers, in the vector form.
struct Rows {
  TextGridVectors columns;
  std::vector<std::uint32_t> file_ids;
};

void append_rows(const TableBatch& batch, Rows& rows) {
  const auto count = static_cast<std::size_t>(batch.rows);
  const auto* names = batch.tier_offsets.as<std::int32_t>();
  for (std::size_t i = 0; i < count; ++i) {
    if (batch.file_ids.size() > 0) rows.file_ids.push_back(batch.file_ids.as<std::uint32_t>()[i]);
    rows.columns.tmins.push_back(batch.tmins.as<double>()[i]);
    rows.columns.tmaxs.push_back(batch.tmaxs.as<double>()[i]);
    const std::uint8_t bits = batch.is_interval.as<std::uint8_t>()[i / 8];
    rows.columns.is_intervals.push_back(static_cast<Flag>((bits >> (i % 8)) & 1));
    const std::int32_t code = batch.tier_codes.as<std::int32_t>()[i];
    EXPECT_GE(code, 0);
    EXPECT_LT(code, batch.tier_count);
    rows.columns.tier_names.emplace_back(batch.tier_data.as<char>() + names[code],
                                         static_cast<std::size_t>(names[code + 1] - names[code]));
    std::int64_t begin = 0, end = 0;
    if (batch.large_labels) {
      begin = batch.label_offsets.as<std::int64_t>()[i];
      end = batch.label_offsets.as<std::int64_t>()[i + 1];
    } else {
      begin = batch.label_offsets.as<std::int32_t>()[i];
      end = batch.label_offsets.as<std::int32_t>()[i + 1];
    }
    rows.columns.labels.emplace_back(batch.label_data.as<char>() + begin,
                                     static_cast<std::size_t>(end - begin));
  }
}

Rows rows_of(const ArrowTable& table) {
  Rows rows;
  for (const TableBatch& batch : table.batches) append_rows(batch, rows);
  return rows;
}

std::vector<std::string> dictionary_of(const TableBatch& batch) {
  std::vector<std::string> names;
  const auto* offsets = batch.tier_offsets.as<std::int32_t>();
  for (std::int64_t i = 0; i < batch.tier_count; ++i) {
    names.emplace_back(batch.tier_data.as<char>() + offsets[i],
                       static_cast<std::size_t>(offsets[i + 1] - offsets[i]));
  }
  return names;
}

// The tier name of every entry: the rows above hold one per entry, the
// column form one per tier with an index per entry.
std::vector<std::string> entry_names(const TextGridVectors& columns) {
  if (columns.tier_of.empty()) return columns.tier_names;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < columns.tier_of.size(); ++i) names.push_back(columns.tier_name(i));
  return names;
}

void expect_same(const TextGridVectors& got, const TextGridVectors& want) {
  EXPECT_EQ(got.tmins, want.tmins);
  EXPECT_EQ(got.tmaxs, want.tmaxs);
  EXPECT_EQ(got.labels, want.labels);
  EXPECT_EQ(entry_names(got), entry_names(want));
  EXPECT_EQ(got.is_intervals, want.is_intervals);
}

Tier tier_of(std::string name, bool is_interval, std::vector<Item> items) {
  Tier tier;
  tier.name = std::move(name);
  tier.is_interval = is_interval;
  tier.items = std::move(items);
  tier.size = tier.items.size();
  return tier;
}

// Three tiers, one of them without items, a name used twice, labels with
// quotes, line breaks, NUL and multi-byte text; nine rows, so the flags fill
// more than one byte.
TextGrid mixed_grid() {
  TextGrid grid;
  grid.tmax = 4.0;
  grid.tiers.push_back(
      tier_of("words", true, {{0.0, 1.0, "a \"b\""}, {1.0, 2.0, ""}, {2.0, 4.0, "x\r\ny"}}));
  grid.tiers.push_back(tier_of("empty", true, {}));
  grid.tiers.push_back(
      tier_of("tones", false, {{0.5, 0.5, "H"}, {1.5, 1.5, std::string("L\0*", 3)}}));
  grid.tiers.push_back(
      tier_of("words", true, {{0.0, 2.0, "ə"}, {2.0, 3.0, "ʃ"}, {3.0, 3.5, ""}, {3.5, 4.0, "z"}}));
  grid.size = grid.tiers.size();
  return grid;
}

TEST(arrow_table, one_textgrid_gives_its_vector_form_in_one_batch) {
  const TextGrid grid = mixed_grid();
  const ArrowTable table = table_from_textgrid(grid);
  EXPECT_FALSE(table.has_file_ids);
  EXPECT_FALSE(table.large_labels);
  ASSERT_EQ(table.batches.size(), 1u);
  EXPECT_EQ(table.rows(), 9);
  const Rows rows = rows_of(table);
  expect_same(rows.columns, grid.to_vectors());
  EXPECT_TRUE(rows.file_ids.empty());
  // Each name once, in order of first use; the tier without items is not named.
  EXPECT_EQ(dictionary_of(table.batches[0]), (std::vector<std::string>{"words", "tones"}));
  // Labels back to back, exactly sized.
  EXPECT_EQ(table.batches[0].label_bytes(), 18u);
  EXPECT_EQ(table.batches[0].label_offsets.size(), 10 * sizeof(std::int32_t));
}

TEST(arrow_table, a_lenient_note_says_what_a_strict_read_would_refuse) {
  const auto note_of = [](auto change) {
    TextGrid grid = mixed_grid();
    grid.tmax = 4.0;
    for (Tier& tier : grid.tiers) tier.tmax = 4.0;
    change(grid);
    return lenient_note(view_of(grid)).value_or("null");
  };
  EXPECT_EQ(note_of([](TextGrid&) {}), "null");
  EXPECT_EQ(note_of([](TextGrid& g) { g.tiers[2].size = 5; }),
            "declared 5 points in tier 'tones', found 2 before the end of the file");
  EXPECT_EQ(note_of([](TextGrid& g) { g.tiers[0].size = 1; }),
            "declared 1 intervals in tier 'words', found 3");
  EXPECT_EQ(note_of([](TextGrid& g) { g.size = 7; }),
            "declared 7 tiers, found 4 before the end of the file");
  // Counts first, then the checks of a strict read, in their order.
  EXPECT_EQ(note_of([](TextGrid& g) {
              g.size = 7;
              g.tiers[3].size = 9;
            }),
            "declared 9 intervals in tier 'words', found 4 before the end of the file");
  EXPECT_EQ(note_of([](TextGrid& g) { g.tiers[3].items[1].tmax = 2.0; }),
            "tmin should be less than tmax in item 1 in tier words");
}

TEST(arrow_table, files_and_tiers_tables_hold_one_row_each) {
  TextGrid grid = mixed_grid();
  grid.tiers[1].size = 2;  // the tier without items declares two
  const ArrowTable table = table_from_textgrid(grid, {}, "a/b.TextGrid");
  ASSERT_EQ(table.files.rows, 1);
  const SideColumn& path = table.files.columns[1];
  EXPECT_EQ(std::string(path.data.as<char>(), path.data.size()), "a/b.TextGrid");
  EXPECT_EQ(table.files.columns[4].values.as<std::uint32_t>()[0], 4u);
  EXPECT_EQ(table.files.columns[5].null_count, 1) << "no error";
  const SideColumn& note = table.files.columns[6];
  EXPECT_EQ(note.null_count, 0);
  EXPECT_EQ(std::string(note.data.as<char>(), note.data.size()),
            "declared 2 intervals in tier 'empty', found 0 before the end of the file");
  ASSERT_EQ(table.tiers.rows, 4);
  const auto* sizes = table.tiers.columns[6].values.as<std::uint64_t>();
  const auto* declared = table.tiers.columns[7].values.as<std::uint64_t>();
  EXPECT_EQ(std::vector<std::uint64_t>(sizes, sizes + 4), (std::vector<std::uint64_t>{3, 0, 2, 4}));
  EXPECT_EQ(std::vector<std::uint64_t>(declared, declared + 4),
            (std::vector<std::uint64_t>{3, 2, 2, 4}));
  EXPECT_EQ(table.tiers.columns[3].values.as<std::uint8_t>()[0], 0b1011);
}

TEST(arrow_table, labels_past_the_utf8_limit_take_int64_offsets) {
  const TextGrid grid = mixed_grid();
  TableLimits limits;
  limits.utf8_bytes = 17;  // one byte less than the labels hold
  const ArrowTable table = table_from_textgrid(grid, limits);
  EXPECT_TRUE(table.large_labels);
  ASSERT_EQ(table.batches.size(), 1u);
  EXPECT_TRUE(table.batches[0].large_labels);
  EXPECT_EQ(table.batches[0].label_offsets.size(), 10 * sizeof(std::int64_t));
  expect_same(rows_of(table).columns, grid.to_vectors());
  limits.utf8_bytes = 18;  // exactly the labels: still int32
  EXPECT_FALSE(table_from_textgrid(grid, limits).large_labels);
}

// One interval tier named `tier` of `count` unit intervals labelled "<tag>:<j>".
std::string long_text(const std::string& tier, const std::string& tag, std::size_t count) {
  std::string text = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\n";
  text.append("xmax = ").append(std::to_string(count + 1)).append("\ntiers? <exists>\nsize = 1\n");
  text.append("item []:\n    item [1]:\n        class = \"IntervalTier\"\n        name = \"");
  text.append(tier).append("\"\n        xmin = 0\n        xmax = ");
  text.append(std::to_string(count + 1)).append("\n        intervals: size = ");
  text.append(std::to_string(count)).append("\n");
  for (std::size_t j = 0; j < count; ++j) {
    text.append("        intervals [").append(std::to_string(j + 1)).append("]:\n");
    text.append("            xmin = ").append(std::to_string(j)).append("\n");
    text.append("            xmax = ").append(std::to_string(j + 1)).append("\n");
    text.append("            text = \"").append(tag).append(":").append(std::to_string(j));
    text.append("\"\n");
  }
  return text;
}

// What textgrids2vectors gives for `paths`: the read files' columns joined,
// with file positions.
Rows joined_vectors(const std::vector<std::string>& paths, bool strict) {
  Rows rows;
  const std::vector<TextGridVectors> all = files_to_vectors(paths, strict, "auto");
  for (std::size_t i = 0; i < all.size(); ++i) {
    const TextGridVectors& one = all[i];
    rows.file_ids.insert(rows.file_ids.end(), one.tmins.size(), static_cast<std::uint32_t>(i));
    auto& c = rows.columns;
    c.tmins.insert(c.tmins.end(), one.tmins.begin(), one.tmins.end());
    c.tmaxs.insert(c.tmaxs.end(), one.tmaxs.begin(), one.tmaxs.end());
    c.labels.insert(c.labels.end(), one.labels.begin(), one.labels.end());
    const std::vector<std::string> names = entry_names(one);
    c.tier_names.insert(c.tier_names.end(), names.begin(), names.end());
    c.is_intervals.insert(c.is_intervals.end(), one.is_intervals.begin(), one.is_intervals.end());
  }
  return rows;
}

class arrow_read : public ::testing::Test {
 protected:
  // File i: tier "t<i % 3>" of i % 5 intervals (file 0, 5, ... have none).
  std::vector<std::string> corpus(std::size_t n) const {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < n; ++i) {
      const std::string tag = std::string("f").append(std::to_string(i));
      paths.push_back(
          dir_.write(tag + ".TextGrid",
                     long_text(std::string("t").append(std::to_string(i % 3)), tag, i % 5)));
    }
    return paths;
  }

  testing::TempDir dir_;
};

TEST_F(arrow_read, failures_are_kept_with_their_position_and_message) {
  std::vector<std::string> paths = corpus(4);
  paths.insert(paths.begin() + 1, dir_.path("missing.TextGrid"));
  paths.push_back(dir_.path(""));
  const ArrowTable table = read_table(paths, {.strict = true});
  ASSERT_EQ(table.failed.size(), 2u);
  EXPECT_EQ(table.failed[0].position, 1u);
  EXPECT_EQ(table.failed[0].error.message, "No such file or directory (os error 2)");
  EXPECT_EQ(table.failed[1].position, 5u);
  EXPECT_EQ(table.failed[1].error.message, "Is a directory (os error 21)");
  const Rows rows = rows_of(table);
  const Rows want = joined_vectors(paths, true);
  expect_same(rows.columns, want.columns);
  EXPECT_EQ(rows.file_ids, want.file_ids);

  // A layout word nobody knows is refused before any file is read.
  EXPECT_FALSE(parse_file_type("Long").has_value());
  EXPECT_EQ(unknown_file_type("Long").message, "Unknown file type: Long");
}

TEST_F(arrow_read, batches_close_at_the_row_and_byte_limits) {
  const std::vector<std::string> paths = corpus(10);  // 0+1+2+3+4+0+1+2+3+4 rows
  TableLimits limits;
  limits.batch_rows = 4;
  const ArrowTable by_rows = read_table(paths, {.strict = false}, limits);
  std::vector<std::int64_t> sizes;
  for (const TableBatch& batch : by_rows.batches) sizes.push_back(batch.rows);
  EXPECT_EQ(sizes, (std::vector<std::int64_t>{6, 4, 6, 4}));
  // Each batch has its own dictionary: the names of its files, once each.
  EXPECT_EQ(dictionary_of(by_rows.batches[0]), (std::vector<std::string>{"t1", "t2", "t0"}));
  EXPECT_EQ(dictionary_of(by_rows.batches[1]), (std::vector<std::string>{"t1"}));

  limits = TableLimits{};
  limits.batch_label_bytes = 1;  // every file with rows closes its batch
  EXPECT_EQ(read_table(paths, {.strict = false}, limits).batches.size(), 8u);

  // Past the utf8 limit in one batch: every batch of the table turns int64.
  limits.utf8_bytes = 15;  // f4 alone holds 4 labels "f4:j" of 4 bytes
  const ArrowTable wide = read_table(paths, {.strict = false}, limits);
  EXPECT_TRUE(wide.large_labels);
  for (const TableBatch& batch : wide.batches) {
    EXPECT_TRUE(batch.large_labels);
    EXPECT_EQ(batch.label_offsets.size(), static_cast<std::size_t>(batch.rows + 1) * 8);
  }
  expect_same(rows_of(wide).columns, joined_vectors(paths, false).columns);
}

// Below and above the parallel threshold, on one worker and on several: the
// batches come in file order whichever worker read them.
using WorkersAndFiles = std::tuple<std::size_t, std::size_t>;
class arrow_read_order : public arrow_read,
                         public ::testing::WithParamInterface<WorkersAndFiles> {};

TEST_P(arrow_read_order, rows_in_file_order) {
  detail::reset_thread_pool_for_testing(std::get<0>(GetParam()));
  std::vector<std::string> paths = corpus(std::get<1>(GetParam()));
  for (std::size_t i = 2; i < paths.size(); i += 13) paths[i] = dir_.path("missing");
  TableLimits limits;
  limits.batch_rows = 7;
  const ArrowTable table = read_table(paths, {.strict = true}, limits);
  const Rows rows = rows_of(table);
  const Rows want = joined_vectors(paths, true);
  expect_same(rows.columns, want.columns);
  EXPECT_EQ(rows.file_ids, want.file_ids);
  std::size_t failures = 0;
  for (std::size_t i = 0; i < table.failed.size(); ++i) {
    EXPECT_EQ(table.failed[i].position, 2 + 13 * i);
    ++failures;
  }
  EXPECT_EQ(failures, (paths.size() + 10) / 13);
}

INSTANTIATE_TEST_SUITE_P(workers_and_sizes, arrow_read_order,
                         ::testing::Combine(::testing::Values(1u, 3u),
                                            ::testing::Values(1u, 19u, 41u, 400u)));

}  // namespace
}  // namespace textgrid
