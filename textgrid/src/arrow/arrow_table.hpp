// TextGrids as Arrow columns: the buffers of record batches, built on the
// worker that read the files, in the layout of Arrow's columnar format, so
// that they can be handed over through the C data interface (arrow_export)
// without a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/read_options.hpp"
#include "model/textgrid.hpp"
#include "model/textgrid_view.hpp"

namespace textgrid {

// One owned Arrow buffer, 64-byte aligned as Arrow recommends. Its data
// pointer is never null: an empty buffer points at a shared zeroed block, as
// some consumers refuse null buffers even of length 0.
class ArrowBuffer {
 public:
  ArrowBuffer() = default;

  // Returns `bytes` uninitialised bytes; throws std::bad_alloc. Allocates.
  static ArrowBuffer allocate(std::size_t bytes);

  // Makes the buffer `bytes` long, its first `keep` bytes kept and the rest
  // uninitialised; throws std::bad_alloc. Allocates.
  void reallocate(std::size_t bytes, std::size_t keep);

  // Shortens the buffer to its first `bytes` (at most its size) in place.
  void truncate(std::size_t bytes) noexcept { size_ = bytes; }

  const std::byte* data() const noexcept;
  std::size_t size() const noexcept { return size_; }
  template <class T>
  T* as() noexcept {
    return reinterpret_cast<T*>(owned_.get());
  }
  template <class T>
  const T* as() const noexcept {
    return reinterpret_cast<const T*>(data());
  }

 private:
  struct Free {
    void operator()(std::byte* block) const noexcept { std::free(block); }
  };
  std::unique_ptr<std::byte, Free> owned_;
  std::size_t size_ = 0;
};

// The columns of one record batch, one row per item. The tier column is
// dictionary-encoded: int32 codes into the batch's own list of tier names,
// each distinct name of the batch's files stored once.
struct TableBatch {
  std::int64_t rows = 0;
  ArrowBuffer file_ids;       // uint32 per row; size 0 in a table without that column
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

// Returns the one-batch table of `grid`, without a file_id column (no batch
// when it has no items). Allocates every buffer once, at its final size.
// Calling thread only.
ArrowTable table_from_textgrid(const TextGridView& grid, const TableLimits& limits = {});
ArrowTable table_from_textgrid(const TextGrid& grid, const TableLimits& limits = {});

// Reads every path with read_in_order (on the pool from the parallel
// threshold on) and appends each file's rows to the record batch being built
// on the calling thread as soon as the file is read, so that only the few
// files read ahead are held as text. A batch closes once it holds
// limits.batch_rows rows, limits.batch_label_bytes bytes of labels or the
// rows of limits.batch_files files, so that a corpus of many small files
// still comes as several batches, each with a small dictionary. A file
// that fails to read gives no rows and its error in `failed`. Batches in file
// order; batches of no rows are left out. `options.should_stop` as for
// read_in_order: once it says stop, the files not yet read are skipped. Needs
// no lock of the caller's: the caller may let go of it for the whole call.
ArrowTable read_table(const std::vector<std::string>& files, const ReadOptions& options,
                      const TableLimits& limits = {});

}  // namespace textgrid
