// TextGrids as Arrow columns: the buffers of record batches, filled on the
// calling thread as the batch driver hands over each file read, in the layout
// of Arrow's columnar format, so that they can be handed over through the C
// data interface (arrow_export) without a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arrow/arrow_buffer.hpp"
#include "arrow/side_tables.hpp"
#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// The columns of one record batch, one row per item. The tier and path
// columns are dictionary-encoded: int32 codes into the batch's own list of
// tier names (or paths), each distinct one of the batch's files stored once.
struct TableBatch {
  std::int64_t rows = 0;
  ArrowBuffer file_ids;       // uint32 per row; size 0 in a table without that column
  ArrowBuffer path_codes;     // int32 per row; size 0 in a table without file_id
  ArrowBuffer tier_ids;       // uint32 per row: the tier's position in its file
  ArrowBuffer tier_codes;     // int32 per row
  ArrowBuffer is_interval;    // one bit per row, least significant bit first
  ArrowBuffer tmins;          // float64 per row
  ArrowBuffer tmaxs;          // float64 per row
  bool large_labels = false;  // label_offsets holds int64, not int32
  ArrowBuffer label_offsets;  // rows + 1 offsets into label_data
  ArrowBuffer label_data;     // the labels' UTF-8 bytes, back to back
  std::int64_t tier_count = 0;
  ArrowBuffer tier_offsets;  // tier_count + 1 int32 offsets into tier_data
  ArrowBuffer tier_data;
  std::int64_t path_count = 0;  // 0 in a table without file_id
  ArrowBuffer path_offsets;     // path_count + 1 int32 offsets into path_data
  ArrowBuffer path_data;

  std::size_t label_bytes() const noexcept { return label_data.size(); }
};

// A file of a batch read that could not be read, with the reader's error.
struct FileFailure {
  std::size_t position = 0;
  Error error;
};

// A whole table: its batches in file order and, for a batch read, the files
// that failed (in position order). Either every batch has int32 label offsets
// (Arrow "utf8") or every one has int64 ("large_utf8"), so the stream has one
// schema.
struct ArrowTable {
  bool has_file_ids = false;
  bool large_labels = false;
  std::size_t file_count = 0;  // the files read, those that failed included
  std::vector<TableBatch> batches;
  std::vector<FileFailure> failed;
  SideTable files;  // one row per file read, those that failed included
  SideTable tiers;  // one row per tier of the files read, in file order

  std::int64_t rows() const noexcept;
};

// Where a batch read closes a batch, and from how many bytes of label text a
// batch needs int64 offsets. Tests lower them to reach every path with small
// inputs.
struct TableLimits {
  std::int64_t batch_rows = std::int64_t{1} << 16;
  std::size_t batch_files = 64;  // files with rows
  std::size_t batch_label_bytes = std::size_t{1} << 26;
  std::size_t utf8_bytes = 0x7fffffff;  // the largest int32 offset
};

// Returns the one-batch table of `grid`, read from `path`, without the
// columns that tell files apart (file_id, path; no batch when it has no
// items), with its files and tiers tables. Allocates every buffer once, at
// its final size. Calling thread only.
ArrowTable table_from_textgrid(const TextGridView& grid, const TableLimits& limits = {},
                               const std::string& path = {});
ArrowTable table_from_textgrid(const TextGrid& grid, const TableLimits& limits = {},
                               const std::string& path = {});

// Reads every path with read_in_order (on the pool from the parallel
// threshold on) and appends each file's rows to the record batch being built
// on the calling thread as soon as the file is read, so that only the few
// files read ahead are held as text. A batch closes once it holds
// limits.batch_rows rows, limits.batch_label_bytes bytes of labels or the
// rows of limits.batch_files files, so that a corpus of many small files
// still comes as several batches, each with a small dictionary. A file
// that fails to read gives no rows and its error in `failed`. Batches in file
// order; batches of no rows are left out. Beside the batches, the files and
// tiers tables; a file's lenient note only when `options.strict` is off. `options.should_stop` as
// for read_in_order: once it says stop, the files not yet read are skipped. Needs no lock of the
// caller's: the caller may let go of it for the whole call.
ArrowTable read_table(const std::vector<std::string>& files, const ReadOptions& options,
                      const TableLimits& limits = {});

// Replaces the error column of `table.files` by `messages`, one per failure
// of `table.failed` in its order (the messages as the caller shows them).
// Allocates; throws std::bad_alloc.
void describe_failures(ArrowTable& table, std::span<const std::string> messages);

}  // namespace textgrid
