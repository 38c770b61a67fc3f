#include "arrow/arrow_table.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "read/batch.hpp"

namespace textgrid {

namespace {

constexpr std::size_t kAlignment = 64;

// Zeroed and wide enough to read as one int64 offset, so an empty buffer can
// stand for the single 0 offset of an empty string column too.
alignas(kAlignment) constexpr std::byte kEmptyBlock[kAlignment] = {};

struct GridSize {
  std::int64_t rows = 0;
  std::size_t label_bytes = 0;
};

GridSize size_of(const TextGridView& grid) {
  GridSize size;
  for (const TierView& tier : grid.tiers) {
    size.rows += static_cast<std::int64_t>(tier.items.size());
    for (const ItemView& item : tier.items) size.label_bytes += item.text.size();
  }
  return size;
}

// A column of a batch that grows as files add their rows: capacity doubles,
// so each value is moved about once more on average, and a batch made of one
// file is allocated once at its final size.
class Column {
 public:
  // Room for `count` more values of T, returned for filling.
  template <class T>
  T* extend(std::size_t count) {
    const std::size_t used = used_;
    const std::size_t needed = used + count * sizeof(T);
    if (needed > buffer_.size()) buffer_.reallocate(std::max(needed, 2 * buffer_.size()), used);
    used_ = needed;
    return reinterpret_cast<T*>(buffer_.as<std::byte>() + used);
  }
  template <class T>
  T* as() noexcept {
    return buffer_.as<T>();
  }
  std::size_t bytes() const noexcept { return used_; }

  // The values so far, as the batch's buffer; the column starts again empty.
  ArrowBuffer take() noexcept {
    buffer_.truncate(used_);
    used_ = 0;
    return std::exchange(buffer_, ArrowBuffer{});
  }

 private:
  ArrowBuffer buffer_;
  std::size_t used_ = 0;
};

struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const noexcept {
    return std::hash<std::string_view>{}(name);
  }
};

// One record batch as it is built: each file's rows are appended as soon as
// it is read, its labels copied straight from the reader's text, so that the
// text can be dropped at once. The tier names are the batch's own dictionary.
class BatchBuilder {
 public:
  BatchBuilder(bool with_file_ids, std::size_t utf8_bytes)
      : with_file_ids_(with_file_ids), utf8_bytes_(utf8_bytes) {}

  std::int64_t rows() const noexcept { return rows_; }
  std::size_t files() const noexcept { return files_; }
  std::size_t label_bytes() const noexcept { return labels_.bytes(); }

  // Appends the rows of `grid`, file number `position`. Throws std::bad_alloc.
  void add(std::uint32_t position, const TextGridView& grid) {
    const GridSize size = size_of(grid);
    if (size.rows == 0) return;
    const auto rows = static_cast<std::size_t>(size.rows);
    const auto first = static_cast<std::size_t>(rows_);
    if (!large_ && labels_.bytes() + size.label_bytes > utf8_bytes_) widen();
    std::uint32_t* file_ids = with_file_ids_ ? file_ids_.extend<std::uint32_t>(rows) : nullptr;
    auto* codes = codes_.extend<std::int32_t>(rows);
    auto* tmins = tmins_.extend<double>(rows);
    auto* tmaxs = tmaxs_.extend<double>(rows);
    const std::size_t bit_bytes = (first + rows + 7) / 8 - (first + 7) / 8;
    std::uint8_t* new_bits = bits_.extend<std::uint8_t>(bit_bytes);
    if (bit_bytes > 0) std::memset(new_bits, 0, bit_bytes);
    auto* bits = bits_.as<std::uint8_t>();
    std::size_t row = first;
    for (const TierView& tier : grid.tiers) {
      if (tier.items.empty()) continue;
      const std::int32_t code = code_of(tier.name);
      for (const ItemView& item : tier.items) {
        const std::size_t at = row - first;
        if (file_ids != nullptr) file_ids[at] = position;
        codes[at] = code;
        if (tier.is_interval) {
          bits[row >> 3] = static_cast<std::uint8_t>(bits[row >> 3] | (1u << (row & 7)));
        }
        tmins[at] = item.tmin;
        tmaxs[at] = item.tmax;
        ++row;
      }
    }
    if (large_) {
      add_labels<std::int64_t>(grid, rows, size.label_bytes);
    } else {
      add_labels<std::int32_t>(grid, rows, size.label_bytes);
    }
    rows_ += size.rows;
    ++files_;
  }

  // The batch of the rows added so far; the builder starts a new one.
  TableBatch finish() {
    TableBatch batch;
    batch.rows = rows_;
    batch.large_labels = large_;
    batch.file_ids = file_ids_.take();
    batch.tier_codes = codes_.take();
    batch.is_interval = bits_.take();
    batch.tmins = tmins_.take();
    batch.tmaxs = tmaxs_.take();
    batch.label_offsets = label_offsets_.take();
    batch.label_data = labels_.take();
    batch.tier_count = static_cast<std::int64_t>(code_of_.size());
    if (code_of_.empty()) *name_offsets_.extend<std::int32_t>(1) = 0;
    batch.tier_offsets = name_offsets_.take();
    batch.tier_data = names_.take();
    code_of_.clear();
    rows_ = 0;
    files_ = 0;
    large_ = false;
    return batch;
  }

 private:
  // The batch's code of a tier name, the name added to the dictionary when
  // it is new.
  std::int32_t code_of(std::string_view name) {
    if (const auto known = code_of_.find(name); known != code_of_.end()) return known->second;
    // Names are offset by int32 ("utf8"); only absurd files get here.
    if (names_.bytes() + name.size() > 0x7fffffffu) {
      throw std::length_error("tier names of one batch pass 2 GiB");
    }
    if (code_of_.empty()) *name_offsets_.extend<std::int32_t>(1) = 0;
    const auto code = static_cast<std::int32_t>(code_of_.size());
    code_of_.emplace(std::string(name), code);
    if (!name.empty()) std::memcpy(names_.extend<char>(name.size()), name.data(), name.size());
    *name_offsets_.extend<std::int32_t>(1) = static_cast<std::int32_t>(names_.bytes());
    return code;
  }

  void add_first_offset() {
    if (large_) {
      *label_offsets_.extend<std::int64_t>(1) = 0;
    } else {
      *label_offsets_.extend<std::int32_t>(1) = 0;
    }
  }

  template <class Offset>
  void add_labels(const TextGridView& grid, std::size_t rows, std::size_t bytes) {
    if (label_offsets_.bytes() == 0) add_first_offset();
    Offset* offsets = label_offsets_.extend<Offset>(rows);
    char* data = labels_.extend<char>(bytes);
    auto end = static_cast<Offset>(labels_.bytes() - bytes);
    std::size_t row = 0;
    for (const TierView& tier : grid.tiers) {
      for (const ItemView& item : tier.items) {
        // The one copy of a label: from the reader's text into the column.
        if (!item.text.empty()) std::memcpy(data, item.text.data(), item.text.size());
        data += item.text.size();
        end += static_cast<Offset>(item.text.size());
        offsets[row++] = end;
      }
    }
  }

  // From int32 label offsets to int64 ones, for the rows so far and the rest.
  void widen() {
    large_ = true;
    if (label_offsets_.bytes() == 0) return;
    Column wide;
    const std::size_t count = label_offsets_.bytes() / sizeof(std::int32_t);
    auto* out = wide.extend<std::int64_t>(count);
    const auto* narrow = label_offsets_.as<std::int32_t>();
    for (std::size_t i = 0; i < count; ++i) out[i] = narrow[i];
    label_offsets_ = std::move(wide);
  }

  const bool with_file_ids_;
  const std::size_t utf8_bytes_;
  std::int64_t rows_ = 0;
  std::size_t files_ = 0;  // with rows
  bool large_ = false;     // label_offsets_ holds int64
  Column file_ids_, codes_, bits_, tmins_, tmaxs_, label_offsets_, labels_;
  std::unordered_map<std::string, std::int32_t, NameHash, std::equal_to<>> code_of_;
  Column name_offsets_, names_;
};

void widen_labels(TableBatch& batch) {
  if (batch.large_labels) return;
  const auto count = static_cast<std::size_t>(batch.rows) + 1;
  ArrowBuffer wide = ArrowBuffer::allocate(count * sizeof(std::int64_t));
  const auto* narrow = batch.label_offsets.as<std::int32_t>();
  auto* out = wide.as<std::int64_t>();
  for (std::size_t i = 0; i < count; ++i) out[i] = narrow[i];
  batch.label_offsets = std::move(wide);
  batch.large_labels = true;
}

// Gives every batch the same label offsets: int64 for all once one needs them.
void settle_label_width(ArrowTable& table) {
  table.large_labels = std::any_of(table.batches.begin(), table.batches.end(),
                                   [](const TableBatch& batch) { return batch.large_labels; });
  if (!table.large_labels) return;
  for (TableBatch& batch : table.batches) widen_labels(batch);
}

}  // namespace

ArrowBuffer ArrowBuffer::allocate(std::size_t bytes) {
  ArrowBuffer buffer;
  if (bytes == 0) return buffer;
  // aligned_alloc wants a multiple of the alignment; the padding stays unused.
  const std::size_t padded = (bytes + kAlignment - 1) / kAlignment * kAlignment;
  if (padded < bytes) throw std::bad_alloc();
  void* block = std::aligned_alloc(kAlignment, padded);
  if (block == nullptr) throw std::bad_alloc();
  buffer.owned_.reset(static_cast<std::byte*>(block));
  buffer.size_ = bytes;
  return buffer;
}

void ArrowBuffer::reallocate(std::size_t bytes, std::size_t keep) {
  ArrowBuffer bigger = allocate(bytes);
  if (keep > 0) std::memcpy(bigger.owned_.get(), owned_.get(), keep);
  *this = std::move(bigger);
}

const std::byte* ArrowBuffer::data() const noexcept {
  return owned_ ? owned_.get() : kEmptyBlock;
}

std::int64_t ArrowTable::rows() const noexcept {
  std::int64_t rows = 0;
  for (const TableBatch& batch : batches) rows += batch.rows;
  return rows;
}

ArrowTable table_from_textgrid(const TextGrid& grid, const TableLimits& limits) {
  return table_from_textgrid(view_of(grid), limits);
}

ArrowTable table_from_textgrid(const TextGridView& grid, const TableLimits& limits) {
  ArrowTable table;
  table.file_count = 1;
  BatchBuilder builder(false, limits.utf8_bytes);
  builder.add(0, grid);
  if (builder.rows() > 0) table.batches.push_back(builder.finish());
  settle_label_width(table);
  return table;
}

ArrowTable read_table(const std::vector<std::string>& files, const ReadOptions& options,
                      const TableLimits& limits) {
  ArrowTable table;
  table.has_file_ids = true;
  table.file_count = files.size();
  BatchBuilder builder(true, limits.utf8_bytes);
  read_in_order<Result<TextGridView>>(
      files, options, {}, [](Result<TextGridView>&& grid) { return std::move(grid); },
      [&](std::size_t i, Result<TextGridView>&& grid) {
        if (!grid) {
          table.failed.push_back(FileFailure{i, std::move(grid.error())});
          return true;
        }
        builder.add(static_cast<std::uint32_t>(i), *grid);
        if (builder.rows() >= limits.batch_rows ||
            builder.label_bytes() >= limits.batch_label_bytes ||
            builder.files() >= limits.batch_files) {
          table.batches.push_back(builder.finish());
        }
        return true;
      });
  if (builder.rows() > 0) table.batches.push_back(builder.finish());
  settle_label_width(table);
  return table;
}

}  // namespace textgrid
