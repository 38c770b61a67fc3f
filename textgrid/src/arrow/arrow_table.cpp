#include "arrow/arrow_table.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <span>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "base/cpus.hpp"
#include "parallel/thread_pool.hpp"
#include "read/read.hpp"

namespace textgrid {

namespace {

constexpr std::size_t kAlignment = 64;

// Zeroed and wide enough to read as one int64 offset, so an empty buffer can
// stand for the single 0 offset of an empty string column too.
alignas(kAlignment) constexpr std::byte kEmptyBlock[kAlignment] = {};

// A file's view as read, and the position of the file in the batch read. The
// labels go from the file's text straight into the batch's buffers.
struct ReadGrid {
  std::uint32_t position = 0;
  TextGridView grid;
};

// What a batch is made from: grids read earlier, borrowed.
struct GridRef {
  std::uint32_t position = 0;
  const TextGridView* grid = nullptr;
};

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

// The batch's tier names, each distinct one once, in order of first use by a
// row, and the code of every tier of the batch's grids (tiers without items
// get none, as no row names them).
struct TierDictionary {
  std::vector<std::string_view> names;
  std::size_t bytes = 0;
  std::vector<std::int32_t> codes;  // one per tier, grids in order
};

TierDictionary dictionary_of(std::span<const GridRef> grids) {
  TierDictionary dictionary;
  std::unordered_map<std::string_view, std::int32_t> code_of;
  for (const GridRef& read : grids) {
    for (const TierView& tier : read.grid->tiers) {
      if (tier.items.empty()) {
        dictionary.codes.push_back(-1);
        continue;
      }
      const auto next = static_cast<std::int32_t>(dictionary.names.size());
      const auto [slot, inserted] = code_of.try_emplace(tier.name, next);
      if (inserted) {
        dictionary.names.push_back(tier.name);
        dictionary.bytes += tier.name.size();
      }
      dictionary.codes.push_back(slot->second);
    }
  }
  // Names are offset by int32 ("utf8"); only absurd files get here.
  if (dictionary.bytes > 0x7fffffffu) throw std::length_error("tier names of one batch pass 2 GiB");
  return dictionary;
}

template <class Offset>
void fill_labels(std::span<const GridRef> grids, TableBatch& batch) {
  auto* offsets = batch.label_offsets.as<Offset>();
  auto* data = batch.label_data.as<char>();
  Offset end = 0;
  std::size_t row = 0;
  offsets[row] = 0;
  for (const GridRef& read : grids) {
    for (const TierView& tier : read.grid->tiers) {
      for (const ItemView& item : tier.items) {
        // The one copy of a label: from the reader's text into the column.
        if (!item.text.empty()) std::memcpy(data + end, item.text.data(), item.text.size());
        end += static_cast<Offset>(item.text.size());
        offsets[++row] = end;
      }
    }
  }
}

// Builds one batch from `grids`, every buffer allocated once at its final
// size; int64 label offsets when the labels pass `utf8_bytes`.
TableBatch make_batch(std::span<const GridRef> grids, bool with_file_ids, std::size_t utf8_bytes) {
  GridSize total;
  for (const GridRef& read : grids) {
    const GridSize one = size_of(*read.grid);
    total.rows += one.rows;
    total.label_bytes += one.label_bytes;
  }
  const TierDictionary dictionary = dictionary_of(grids);
  const auto rows = static_cast<std::size_t>(total.rows);

  TableBatch batch;
  batch.rows = total.rows;
  batch.large_labels = total.label_bytes > utf8_bytes;
  batch.file_ids = ArrowBuffer::allocate(with_file_ids ? rows * sizeof(std::uint32_t) : 0);
  batch.tier_codes = ArrowBuffer::allocate(rows * sizeof(std::int32_t));
  batch.is_interval = ArrowBuffer::allocate((rows + 7) / 8);
  batch.tmins = ArrowBuffer::allocate(rows * sizeof(double));
  batch.tmaxs = ArrowBuffer::allocate(rows * sizeof(double));
  batch.label_offsets = ArrowBuffer::allocate(
      (rows + 1) * (batch.large_labels ? sizeof(std::int64_t) : sizeof(std::int32_t)));
  batch.label_data = ArrowBuffer::allocate(total.label_bytes);
  batch.tier_count = static_cast<std::int64_t>(dictionary.names.size());
  batch.tier_offsets = ArrowBuffer::allocate((dictionary.names.size() + 1) * sizeof(std::int32_t));
  batch.tier_data = ArrowBuffer::allocate(dictionary.bytes);

  auto* file_ids = batch.file_ids.as<std::uint32_t>();
  auto* codes = batch.tier_codes.as<std::int32_t>();
  auto* bits = batch.is_interval.as<std::uint8_t>();
  auto* tmins = batch.tmins.as<double>();
  auto* tmaxs = batch.tmaxs.as<double>();
  if (batch.is_interval.size() > 0) std::memset(bits, 0, batch.is_interval.size());
  std::size_t row = 0;
  std::size_t tier_index = 0;
  for (const GridRef& read : grids) {
    for (const TierView& tier : read.grid->tiers) {
      const std::int32_t code = dictionary.codes[tier_index++];
      for (const ItemView& item : tier.items) {
        if (with_file_ids) file_ids[row] = read.position;
        codes[row] = code;
        if (tier.is_interval) {
          bits[row >> 3] = static_cast<std::uint8_t>(bits[row >> 3] | (1u << (row & 7)));
        }
        tmins[row] = item.tmin;
        tmaxs[row] = item.tmax;
        ++row;
      }
    }
  }
  if (batch.large_labels) {
    fill_labels<std::int64_t>(grids, batch);
  } else {
    fill_labels<std::int32_t>(grids, batch);
  }

  auto* name_offsets = batch.tier_offsets.as<std::int32_t>();
  auto* name_data = batch.tier_data.as<char>();
  std::int32_t end = 0;
  name_offsets[0] = 0;
  for (std::size_t i = 0; i < dictionary.names.size(); ++i) {
    const std::string_view name = dictionary.names[i];
    if (!name.empty()) std::memcpy(name_data + end, name.data(), name.size());
    end += static_cast<std::int32_t>(name.size());
    name_offsets[i + 1] = end;
  }
  return batch;
}

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

// The batches and failures of one worker's piece of a batch read.
struct Piece {
  std::size_t begin = 0;
  std::vector<TableBatch> batches;
  std::vector<FileFailure> failed;
};

struct ReadRequest {
  const std::vector<std::string>& files;
  bool strict;
  std::string_view file_type;
  const TableLimits& limits;
  StopRelay& relay;
  const ShouldStop& relayed;  // asks the relay: what the readers get
};

Piece read_piece(const ReadRequest& request, std::size_t begin, std::size_t end) {
  Piece piece;
  piece.begin = begin;
  std::vector<ReadGrid> group;
  GridSize held;
  const auto flush = [&] {
    if (held.rows > 0) {
      std::vector<GridRef> refs;
      refs.reserve(group.size());
      for (const ReadGrid& read : group) refs.push_back(GridRef{read.position, &read.grid});
      piece.batches.push_back(make_batch(refs, true, request.limits.utf8_bytes));
    }
    group.clear();
    held = GridSize{};
  };
  const detail::OneThreadReads one_thread;  // the other pieces keep the pool busy
  for (std::size_t i = begin; i < end; ++i) {
    if (request.relay.stopped()) break;  // the caller raises; what is read is dropped
    Result<TextGridView> grid =
        read_view_from_file(request.files[i], request.strict, request.file_type, request.relayed);
    if (!grid) {
      piece.failed.push_back(FileFailure{i, std::move(grid.error())});
      continue;
    }
    const GridSize one = size_of(*grid);
    if (one.rows == 0) continue;
    group.push_back(ReadGrid{static_cast<std::uint32_t>(i), std::move(*grid)});
    held.rows += one.rows;
    held.label_bytes += one.label_bytes;
    if (held.rows >= request.limits.batch_rows ||
        held.label_bytes >= request.limits.batch_label_bytes) {
      flush();
    }
  }
  flush();
  return piece;
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
  if (size_of(grid).rows == 0) return table;
  const GridRef one[] = {GridRef{0, &grid}};
  table.batches.push_back(make_batch(one, false, limits.utf8_bytes));
  settle_label_width(table);
  return table;
}

ArrowTable read_table(const std::vector<std::string>& files, bool strict,
                      std::string_view file_type, const TableLimits& limits,
                      const ShouldStop& should_stop) {
  StopRelay relay(should_stop);
  const ShouldStop relayed = [&relay] { return relay.should_stop(); };
  const ReadRequest request{files, strict, file_type, limits, relay, relayed};
  std::vector<Piece> pieces;
  if (files.size() < parallel_threshold()) {
    if (!files.empty()) pieces.push_back(read_piece(request, 0, files.size()));
  } else {
    struct Context {
      const ReadRequest& request;
      std::mutex mutex;
      std::vector<Piece>& pieces;
    } context{request, {}, pieces};
    const detail::RangeWork work{[](void* raw, std::size_t begin, std::size_t end) {
                                   Context& c = *static_cast<Context*>(raw);
                                   Piece piece = read_piece(c.request, begin, end);
                                   const std::lock_guard lock(c.mutex);
                                   c.pieces.push_back(std::move(piece));
                                 },
                                 &context};
    detail::run_parallel(files.size(), work, [&relay] { relay.poll(); });
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.begin < b.begin; });
  }

  ArrowTable table;
  table.has_file_ids = true;
  table.file_count = files.size();
  for (Piece& piece : pieces) {
    for (TableBatch& batch : piece.batches) table.batches.push_back(std::move(batch));
    for (FileFailure& failure : piece.failed) table.failed.push_back(std::move(failure));
  }
  settle_label_width(table);
  return table;
}

}  // namespace textgrid
