#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "arrow/table_bytes.hpp"

namespace textgrid {
namespace {

// Two tiers, one name used twice, labels with a quote, NUL and multi-byte text.
TextGrid sample_grid() {
  TextGrid grid;
  grid.tmax = 4.0;
  Tier words{"words", true, 0.0, 4.0, 2, {{0.0, 1.0, "a \"b\""}, {1.0, 4.0, "ə"}}};
  Tier tones{"tones", false, 0.0, 4.0, 2, {{0.5, 0.5, "H"}, {1.5, 1.5, std::string("L\0*", 3)}}};
  grid.tiers = {words, tones, words};
  grid.size = 3;
  return grid;
}

std::vector<std::byte> encoded(const ArrowTable& table) {
  std::vector<std::byte> bytes(encoded_size(table));
  encode_table(table, bytes);
  return bytes;
}

std::string as_text(const ArrowBuffer& buffer) {
  return std::string(buffer.as<char>(), buffer.size());
}

void expect_same(const ArrowTable& got, const ArrowTable& want) {
  EXPECT_EQ(got.has_file_ids, want.has_file_ids);
  EXPECT_EQ(got.large_labels, want.large_labels);
  EXPECT_EQ(got.file_count, want.file_count);
  ASSERT_EQ(got.batches.size(), want.batches.size());
  for (std::size_t i = 0; i < got.batches.size(); ++i) {
    const TableBatch& a = got.batches[i];
    const TableBatch& b = want.batches[i];
    EXPECT_EQ(a.rows, b.rows);
    EXPECT_EQ(a.tier_count, b.tier_count);
    EXPECT_EQ(a.large_labels, b.large_labels);
    for (auto [x, y] : {std::pair{&a.file_ids, &b.file_ids},
                        {&a.tier_codes, &b.tier_codes},
                        {&a.is_interval, &b.is_interval},
                        {&a.tmins, &b.tmins},
                        {&a.tmaxs, &b.tmaxs},
                        {&a.label_offsets, &b.label_offsets},
                        {&a.label_data, &b.label_data},
                        {&a.tier_offsets, &b.tier_offsets},
                        {&a.tier_data, &b.tier_data},
                        {&a.path_codes, &b.path_codes},
                        {&a.tier_ids, &b.tier_ids},
                        {&a.path_offsets, &b.path_offsets},
                        {&a.path_data, &b.path_data}}) {
      EXPECT_EQ(as_text(*x), as_text(*y));
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(x->data()) % 64, 0u);
    }
  }
  for (auto [x, y] : {std::pair{&got.files, &want.files}, {&got.tiers, &want.tiers}}) {
    EXPECT_EQ(x->rows, y->rows);
    ASSERT_EQ(x->columns.size(), y->columns.size());
    for (std::size_t i = 0; i < x->columns.size(); ++i) {
      const SideColumn& a = x->columns[i];
      const SideColumn& b = y->columns[i];
      EXPECT_EQ(a.null_count, b.null_count);
      EXPECT_EQ(as_text(a.validity), as_text(b.validity));
      EXPECT_EQ(as_text(a.values), as_text(b.values));
      EXPECT_EQ(as_text(a.data), as_text(b.data));
    }
  }
}

TEST(table_bytes, a_table_comes_back_buffer_for_buffer) {
  TableLimits wide;
  wide.utf8_bytes = 1;
  std::vector<ArrowTable> tables;
  tables.push_back(table_from_textgrid(sample_grid()));
  tables.back().batches.push_back(std::move(table_from_textgrid(sample_grid()).batches[0]));
  tables.push_back(table_from_textgrid(sample_grid(), wide));
  tables.push_back(table_from_textgrid(TextGrid{}));
  for (const ArrowTable& table : tables) {
    const Result<ArrowTable> back = decode_table(encoded(table));
    ASSERT_TRUE(back) << back.error().message;
    expect_same(*back, table);
  }
}

// Changes the uint64 word at `at` of `bytes` to `value`.
void set_word(std::vector<std::byte>& bytes, std::size_t at, std::uint64_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

TEST(table_bytes, damaged_bytes_fail_with_what_is_wrong) {
  const std::vector<std::byte> good = encoded(table_from_textgrid(sample_grid()));
  const auto message = [](const std::vector<std::byte>& bytes) {
    const Result<ArrowTable> back = decode_table(bytes);
    return back ? std::string("decoded") : back.error().message;
  };
  // Cut anywhere: an error, never a read past the end.
  for (std::size_t size = 0; size < good.size(); ++size) {
    const std::vector<std::byte> cut(good.begin(), good.begin() + static_cast<long>(size));
    const Result<ArrowTable> back = decode_table(cut);
    ASSERT_FALSE(back) << size;
    EXPECT_EQ(back.error().kind, ErrorKind::InvalidData);
  }
  EXPECT_EQ(message({}), "the bytes do not begin as those of a table");
  std::vector<std::byte> bytes(good.begin(), good.begin() + 20);
  EXPECT_EQ(message(bytes), "the bytes end inside the table's header");
  bytes = good;
  set_word(bytes, 8, 0x0807060504030201u);
  EXPECT_EQ(message(bytes), "the bytes were written in another byte order");
  bytes = good;
  set_word(bytes, 16, 4);  // an unknown flag
  EXPECT_EQ(message(bytes), "the table's header is damaged");
  bytes = good;
  bytes.resize(good.size() - 1);
  EXPECT_EQ(message(bytes), "the bytes end inside batch 0");
  bytes = good;
  bytes.resize(good.size() + 8);
  EXPECT_EQ(message(bytes), "8 bytes after the table's last batch");

  // The files table: rows, column count, then the first column's null count.
  bytes = good;
  set_word(bytes, 48, 3);
  EXPECT_EQ(message(bytes), "the files table is damaged");
  bytes = good;
  set_word(bytes, 56, 1);  // a null in file_id, which has none
  EXPECT_EQ(message(bytes), "the files table's column 'file_id' is damaged");
  bytes = good;
  set_word(bytes, 40, 2);  // two files in a table of one
  EXPECT_EQ(message(bytes), "the files table's column 'file_id' is damaged");

  // Header 40 bytes, the files and tiers tables, then rows, tier count, path
  // count and the file_id buffer (size 0).
  ArrowTable bare = table_from_textgrid(sample_grid());
  bare.files = {};
  bare.tiers = {};
  const std::size_t batch = 40 + good.size() - encoded_size(bare) + 4 * 8;
  bytes = good;
  set_word(bytes, batch, 3);  // 3 rows, where the buffers hold 6
  EXPECT_EQ(message(bytes), "batch 0: tier codes holds 24 bytes, not 12");
  const std::size_t codes = batch + 4 * 8 + 8;  // the first tier code
  bytes = good;
  set_word(bytes, codes, 0x0000000200000000u);  // codes 0 and 2, of two names
  EXPECT_EQ(message(bytes), "batch 0: tier code 2 of row 1 past its 2 tier names");
  bytes = good;
  const std::size_t labels = codes + 24 + 16 + 56 + 56 + 8;  // the label offsets
  set_word(bytes, labels, 0x0000000000000001u);              // the first offset 1
  EXPECT_EQ(message(bytes), "batch 0: label offsets out of order or past the labels");
}

}  // namespace
}  // namespace textgrid
