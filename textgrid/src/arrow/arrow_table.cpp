#include "arrow/arrow_table.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "read/batch.hpp"
#include "text/text_input.hpp"

namespace textgrid {

namespace {

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

  // Appends the rows of `grid`, file number `position` read from `path`.
  // Throws std::bad_alloc.
  void add(std::uint32_t position, std::string_view path, const TextGridView& grid) {
    const GridSize size = size_of(grid);
    if (size.rows == 0) return;
    const auto rows = static_cast<std::size_t>(size.rows);
    const auto first = static_cast<std::size_t>(rows_);
    if (!large_ && labels_.bytes() + size.label_bytes > utf8_bytes_) widen();
    std::uint32_t* file_ids = with_file_ids_ ? file_ids_.extend<std::uint32_t>(rows) : nullptr;
    std::int32_t* path_codes = with_file_ids_ ? path_codes_.extend<std::int32_t>(rows) : nullptr;
    const std::int32_t path_code = with_file_ids_ ? add_path(path) : 0;
    auto* tier_ids = tier_ids_.extend<std::uint32_t>(rows);
    auto* codes = codes_.extend<std::int32_t>(rows);
    auto* tmins = tmins_.extend<double>(rows);
    auto* tmaxs = tmaxs_.extend<double>(rows);
    const std::size_t bit_bytes = (first + rows + 7) / 8 - (first + 7) / 8;
    std::uint8_t* new_bits = bits_.extend<std::uint8_t>(bit_bytes);
    if (bit_bytes > 0) std::memset(new_bits, 0, bit_bytes);
    auto* bits = bits_.as<std::uint8_t>();
    std::size_t row = first;
    std::uint32_t tier_id = 0;
    for (const TierView& tier : grid.tiers) {
      const std::uint32_t id = tier_id++;
      if (tier.items.empty()) continue;
      const std::int32_t code = code_of(tier.name);
      for (const ItemView& item : tier.items) {
        const std::size_t at = row - first;
        if (file_ids != nullptr) {
          file_ids[at] = position;
          path_codes[at] = path_code;
        }
        tier_ids[at] = id;
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
    batch.path_codes = path_codes_.take();
    batch.tier_ids = tier_ids_.take();
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
    if (with_file_ids_) {
      batch.path_count = path_count_;
      batch.path_offsets = path_offsets_.take();
      batch.path_data = paths_.take();
    }
    path_count_ = 0;
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

  // The batch's code of the path of the file being added, which is new to it.
  std::int32_t add_path(std::string_view path) {
    if (!is_valid_utf8(path)) {
      const std::string shown = shown_utf8(path);
      return add_path(shown);
    }
    if (paths_.bytes() + path.size() > 0x7fffffffu) {
      throw std::length_error("paths of one batch pass 2 GiB");
    }
    if (path_count_ == 0) *path_offsets_.extend<std::int32_t>(1) = 0;
    if (!path.empty()) std::memcpy(paths_.extend<char>(path.size()), path.data(), path.size());
    *path_offsets_.extend<std::int32_t>(1) = static_cast<std::int32_t>(paths_.bytes());
    return static_cast<std::int32_t>(path_count_++);
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
  std::int64_t path_count_ = 0;
  Column file_ids_, path_codes_, tier_ids_, path_offsets_, paths_, codes_, bits_, tmins_, tmaxs_,
      label_offsets_, labels_;
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

std::int64_t ArrowTable::rows() const noexcept {
  std::int64_t rows = 0;
  for (const TableBatch& batch : batches) rows += batch.rows;
  return rows;
}

ArrowTable table_from_textgrid(const TextGrid& grid, const TableLimits& limits,
                               const std::string& path) {
  return table_from_textgrid(view_of(grid), limits, path);
}

ArrowTable table_from_textgrid(const TextGridView& grid, const TableLimits& limits,
                               const std::string& path) {
  ArrowTable table;
  table.file_count = 1;
  BatchBuilder builder(false, limits.utf8_bytes);
  builder.add(0, path, grid);
  FileRecord file;
  std::vector<TierRecord> tiers;
  record_file(grid, 0, true, file, tiers);
  table.files = files_table(std::span(&path, 1), std::span(&file, 1), {}, {});
  table.tiers = tiers_table(tiers);
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
  std::vector<FileRecord> records(files.size());
  std::vector<TierRecord> tiers;
  read_in_order<Result<TextGridView>>(
      files, options, {}, [](Result<TextGridView>&& grid) { return std::move(grid); },
      [&](std::size_t i, Result<TextGridView>&& grid) {
        if (!grid) {
          table.failed.push_back(FileFailure{i, std::move(grid.error())});
          return true;
        }
        const auto position = static_cast<std::uint32_t>(i);
        builder.add(position, files[i], *grid);
        record_file(*grid, position, !options.strict, records[i], tiers);
        if (builder.rows() >= limits.batch_rows ||
            builder.label_bytes() >= limits.batch_label_bytes ||
            builder.files() >= limits.batch_files) {
          table.batches.push_back(builder.finish());
        }
        return true;
      });
  if (builder.rows() > 0) table.batches.push_back(builder.finish());
  settle_label_width(table);
  std::vector<std::size_t> positions;
  std::vector<std::string> messages;
  for (const FileFailure& failure : table.failed) {
    positions.push_back(failure.position);
    messages.push_back(failure.error.message);
  }
  table.files = files_table(files, records, positions, messages);
  table.tiers = tiers_table(tiers);
  return table;
}

void describe_failures(ArrowTable& table, std::span<const std::string> messages) {
  std::vector<std::size_t> positions;
  for (const FileFailure& failure : table.failed) positions.push_back(failure.position);
  set_file_errors(table.files, positions, messages);
}

}  // namespace textgrid
