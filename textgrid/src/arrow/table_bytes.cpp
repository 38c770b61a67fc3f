#include "arrow/table_bytes.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "arrow/side_tables.hpp"

namespace textgrid {

namespace {

// Every number is a uint64 word; each buffer is its size and its bytes, padded
// to a whole word.
//   magic, byte order, flags, file count, batch count
//   the files table, then the tiers table: rows, column count, then per
//   column its null count, validity, values and data
//   per batch: rows, tier count, path count, then each buffer of buffers_of
constexpr std::array<char, 8> kMagic = {'p', 'l', 'i', 'n', 't', 'h', 'T', '2'};
constexpr std::uint64_t kByteOrder = 0x0102030405060708u;
constexpr std::uint64_t kFileIds = 1;
constexpr std::uint64_t kLargeLabels = 2;
constexpr std::size_t kWord = sizeof(std::uint64_t);

// The members of TableBatch as encoded here: a new member changes its size,
// and then has to be encoded too.
struct EncodedBatch {
  std::int64_t rows;
  ArrowBuffer columns[7];
  bool large_labels;
  ArrowBuffer labels[2];
  std::int64_t tier_count;
  ArrowBuffer tiers[2];
  std::int64_t path_count;
  ArrowBuffer paths[2];
};
static_assert(sizeof(TableBatch) == sizeof(EncodedBatch),
              "a member added to TableBatch must be encoded in table_bytes.cpp");

// And those of ArrowTable; `failed` is left out (a pickled plinth.Table carries
// its failures as the dict it shows).
struct EncodedTable {
  bool has_file_ids;
  bool large_labels;
  std::size_t file_count;
  std::vector<TableBatch> batches;
  std::vector<FileFailure> failed;
  SideTable files;
  SideTable tiers;
};
static_assert(sizeof(ArrowTable) == sizeof(EncodedTable),
              "a member added to ArrowTable must be encoded in table_bytes.cpp");

template <class Batch>
auto buffers_of(Batch& batch) {
  return std::array{&batch.file_ids,  &batch.tier_codes,    &batch.is_interval, &batch.tmins,
                    &batch.tmaxs,     &batch.label_offsets, &batch.label_data,  &batch.tier_offsets,
                    &batch.tier_data, &batch.path_codes,    &batch.tier_ids,    &batch.path_offsets,
                    &batch.path_data};
}
constexpr const char* kBufferNames[] = {
    "file_id",       "tier codes",   "is_interval",  "tmin",       "tmax",
    "label offsets", "label data",   "tier offsets", "tier names", "path codes",
    "tier_id",       "path offsets", "paths"};
constexpr std::size_t kFree = std::numeric_limits<std::size_t>::max();  // bounded by offsets

std::size_t padded(std::size_t bytes) noexcept {
  return (bytes + kWord - 1) / kWord * kWord;
}

class Writer {
 public:
  explicit Writer(std::span<std::byte> out) noexcept : out_(out) {}
  void word(std::uint64_t value) noexcept { bytes(&value, kWord); }
  void buffer(const ArrowBuffer& buffer) noexcept {
    word(buffer.size());
    bytes(buffer.data(), buffer.size());
    const std::size_t pad = padded(buffer.size()) - buffer.size();
    std::memset(out_.data() + at_, 0, pad);
    at_ += pad;
  }

 private:
  void bytes(const void* data, std::size_t size) noexcept {
    if (size > 0) std::memcpy(out_.data() + at_, data, size);
    at_ += size;
  }
  std::span<std::byte> out_;
  std::size_t at_ = 0;
};

class Reader {
 public:
  explicit Reader(std::span<const std::byte> in) noexcept : in_(in) {}
  bool word(std::uint64_t& value) noexcept {
    if (left() < kWord) return false;
    std::memcpy(&value, in_.data() + at_, kWord);
    at_ += kWord;
    return true;
  }
  bool buffer(ArrowBuffer& out) {
    std::uint64_t size = 0;
    if (!word(size) || size > left() || padded(size) > left()) return false;
    out = ArrowBuffer::allocate(size);
    if (size > 0) std::memcpy(out.as<std::byte>(), in_.data() + at_, size);
    at_ += padded(size);
    return true;
  }
  std::size_t left() const noexcept { return in_.size() - at_; }

 private:
  std::span<const std::byte> in_;
  std::size_t at_ = 0;
};

std::unexpected<Error> bad(std::string message) {
  return fail(ErrorKind::InvalidData, std::move(message));
}

std::unexpected<Error> bad_batch(std::size_t index, const std::string& message) {
  return bad("batch " + std::to_string(index) + ": " + message);
}

// The sizes that the fixed-width buffers of a batch of `rows` rows must have.
std::array<std::size_t, 13> sizes_of(std::size_t rows, std::size_t tiers, std::size_t paths,
                                     bool file_ids, bool large_labels) {
  const std::size_t offset = large_labels ? sizeof(std::int64_t) : sizeof(std::int32_t);
  return {file_ids ? rows * sizeof(std::uint32_t) : 0,
          rows * sizeof(std::int32_t),
          (rows + 7) / 8,
          rows * sizeof(double),
          rows * sizeof(double),
          (rows + 1) * offset,
          kFree,
          (tiers + 1) * sizeof(std::int32_t),
          kFree,
          file_ids ? rows * sizeof(std::int32_t) : 0,
          rows * sizeof(std::uint32_t),
          file_ids ? (paths + 1) * sizeof(std::int32_t) : 0,
          kFree};
}

// True when `offsets` (count + 1 of them) start at 0, never fall and end at
// the size of `data`.
template <class Offset>
bool offsets_fit(const ArrowBuffer& offsets, std::size_t count, const ArrowBuffer& data) {
  const Offset* at = offsets.as<Offset>();
  if (at[0] != 0) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (at[i + 1] < at[i]) return false;
  }
  return static_cast<std::uint64_t>(at[count]) == data.size();
}

// Checks what the buffers of a decoded batch refer to: offsets and codes.
Status check_batch(const TableBatch& batch, std::size_t index, std::size_t file_count) {
  const auto rows = static_cast<std::size_t>(batch.rows);
  const bool labels_fit =
      batch.large_labels ? offsets_fit<std::int64_t>(batch.label_offsets, rows, batch.label_data)
                         : offsets_fit<std::int32_t>(batch.label_offsets, rows, batch.label_data);
  if (!labels_fit) return bad_batch(index, "label offsets out of order or past the labels");
  const auto tiers = static_cast<std::size_t>(batch.tier_count);
  if (!offsets_fit<std::int32_t>(batch.tier_offsets, tiers, batch.tier_data)) {
    return bad_batch(index, "tier name offsets out of order or past the names");
  }
  const auto paths = static_cast<std::size_t>(batch.path_count);
  if (batch.path_offsets.size() > 0 &&
      !offsets_fit<std::int32_t>(batch.path_offsets, paths, batch.path_data)) {
    return bad_batch(index, "path offsets out of order or past the paths");
  }
  const auto* codes = batch.tier_codes.as<std::int32_t>();
  const auto* file_ids = batch.file_ids.as<std::uint32_t>();
  const auto* path_codes = batch.path_codes.as<std::int32_t>();
  for (std::size_t row = 0; row < rows; ++row) {
    if (batch.path_codes.size() > 0 &&
        (path_codes[row] < 0 || static_cast<std::size_t>(path_codes[row]) >= paths)) {
      return bad_batch(index, "path code " + std::to_string(path_codes[row]) + " of row " +
                                  std::to_string(row) + " past its " + std::to_string(paths) +
                                  " paths");
    }
    if (codes[row] < 0 || static_cast<std::size_t>(codes[row]) >= tiers) {
      return bad_batch(index, "tier code " + std::to_string(codes[row]) + " of row " +
                                  std::to_string(row) + " past its " + std::to_string(tiers) +
                                  " tier names");
    }
    if (batch.file_ids.size() > 0 && file_ids[row] >= file_count) {
      return bad_batch(index, "file_id " + std::to_string(file_ids[row]) + " of row " +
                                  std::to_string(row) + " past the table's " +
                                  std::to_string(file_count) + " files");
    }
  }
  return {};
}

Result<TableBatch> decode_batch(Reader& in, std::size_t index, const ArrowTable& table) {
  const std::string cut = "the bytes end inside batch " + std::to_string(index);
  std::uint64_t rows = 0, tiers = 0, paths = 0;
  if (!in.word(rows) || !in.word(tiers) || !in.word(paths)) return bad(cut);
  // Each row takes at least 16 bytes (tmin and tmax), each tier name or path 4.
  if (rows > in.left() / 16 || tiers > in.left() / 4 || paths > in.left() / 4) return bad(cut);
  if (!table.has_file_ids && paths != 0) return bad_batch(index, "paths in a table of one file");
  TableBatch batch;
  batch.rows = static_cast<std::int64_t>(rows);
  batch.tier_count = static_cast<std::int64_t>(tiers);
  batch.path_count = static_cast<std::int64_t>(paths);
  batch.large_labels = table.large_labels;
  const auto sizes = sizes_of(rows, tiers, paths, table.has_file_ids, table.large_labels);
  const auto buffers = buffers_of(batch);
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    if (!in.buffer(*buffers[i])) return bad(cut);
    if (sizes[i] != kFree && buffers[i]->size() != sizes[i]) {
      return bad_batch(index, std::string(kBufferNames[i]) + " holds " +
                                  std::to_string(buffers[i]->size()) + " bytes, not " +
                                  std::to_string(sizes[i]));
    }
  }
  if (Status fits = check_batch(batch, index, table.file_count); !fits) {
    return std::unexpected(std::move(fits.error()));
  }
  return batch;
}

std::size_t side_size(const SideTable& side) noexcept {
  std::size_t size = 2 * kWord;
  for (const SideColumn& column : side.columns) {
    size += kWord;
    for (const ArrowBuffer* buffer : {&column.validity, &column.values, &column.data}) {
      size += kWord + padded(buffer->size());
    }
  }
  return size;
}

void encode_side(Writer& writer, const SideTable& side) noexcept {
  writer.word(static_cast<std::uint64_t>(side.rows));
  writer.word(side.columns.size());
  for (const SideColumn& column : side.columns) {
    writer.word(static_cast<std::uint64_t>(column.null_count));
    writer.buffer(column.validity);
    writer.buffer(column.values);
    writer.buffer(column.data);
  }
}

std::size_t set_bits(const ArrowBuffer& bits, std::size_t rows) {
  std::size_t count = 0;
  const auto* bytes = bits.as<std::uint8_t>();
  for (std::size_t i = 0; i < rows; ++i) count += (bytes[i >> 3] >> (i & 7)) & 1u;
  return count;
}

// Checks one decoded column of a side table against its field.
bool column_fits(const SideColumn& column, const SideField& field, std::size_t rows) {
  const std::string_view format = field.format;
  const std::size_t width = format == "g" || format == "L" ? 8 : format == "I" ? 4 : 0;
  const bool text = format == "u";
  if (column.null_count < 0 || static_cast<std::size_t>(column.null_count) > rows) return false;
  const auto nulls = static_cast<std::size_t>(column.null_count);
  if (nulls > 0 && (!field.nullable || column.validity.size() != (rows + 7) / 8 ||
                    rows - set_bits(column.validity, rows) != nulls)) {
    return false;
  }
  if (nulls == 0 && column.validity.size() != 0) return false;
  if (text) {
    return column.values.size() == (rows + 1) * sizeof(std::int32_t) &&
           offsets_fit<std::int32_t>(column.values, rows, column.data);
  }
  const std::size_t values = width > 0 ? rows * width : (rows + 7) / 8;
  return column.values.size() == values && column.data.size() == 0;
}

Result<SideTable> decode_side(Reader& in, TablePart part, const char* what) {
  const std::string cut = std::string("the bytes end inside the ").append(what).append(" table");
  const std::span<const SideField> fields = side_fields(part);
  std::uint64_t rows = 0, columns = 0;
  if (!in.word(rows) || !in.word(columns)) return bad(cut);
  if (rows > in.left() || columns != fields.size()) {
    return bad(std::string("the ").append(what).append(" table is damaged"));
  }
  SideTable side;
  side.rows = static_cast<std::int64_t>(rows);
  side.columns.resize(columns);
  for (std::size_t i = 0; i < columns; ++i) {
    SideColumn& column = side.columns[i];
    std::uint64_t nulls = 0;
    if (!in.word(nulls) || !in.buffer(column.validity) || !in.buffer(column.values) ||
        !in.buffer(column.data)) {
      return bad(cut);
    }
    column.null_count = static_cast<std::int64_t>(nulls);
    if (nulls > rows || !column_fits(column, fields[i], rows)) {
      return bad(std::string("the ")
                     .append(what)
                     .append(" table's column '")
                     .append(fields[i].name)
                     .append("' is damaged"));
    }
  }
  return side;
}

}  // namespace

std::size_t encoded_size(const ArrowTable& table) noexcept {
  std::size_t size = kMagic.size() + 4 * kWord;
  for (const TableBatch& batch : table.batches) {
    size += 3 * kWord;
    for (const ArrowBuffer* buffer : buffers_of(batch)) size += kWord + padded(buffer->size());
  }
  return size + side_size(table.files) + side_size(table.tiers);
}

void encode_table(const ArrowTable& table, std::span<std::byte> out) noexcept {
  std::memcpy(out.data(), kMagic.data(), kMagic.size());
  Writer writer(out.subspan(kMagic.size()));
  writer.word(kByteOrder);
  writer.word((table.has_file_ids ? kFileIds : 0) | (table.large_labels ? kLargeLabels : 0));
  writer.word(table.file_count);
  writer.word(table.batches.size());
  encode_side(writer, table.files);
  encode_side(writer, table.tiers);
  for (const TableBatch& batch : table.batches) {
    writer.word(static_cast<std::uint64_t>(batch.rows));
    writer.word(static_cast<std::uint64_t>(batch.tier_count));
    writer.word(static_cast<std::uint64_t>(batch.path_count));
    for (const ArrowBuffer* buffer : buffers_of(batch)) writer.buffer(*buffer);
  }
}

Result<ArrowTable> decode_table(std::span<const std::byte> bytes) {
  if (bytes.size() < kMagic.size() ||
      std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0) {
    return bad("the bytes do not begin as those of a table");
  }
  Reader in(bytes.subspan(kMagic.size()));
  std::uint64_t order = 0, flags = 0, files = 0, batches = 0;
  if (!in.word(order) || !in.word(flags) || !in.word(files) || !in.word(batches)) {
    return bad("the bytes end inside the table's header");
  }
  if (order != kByteOrder) return bad("the bytes were written in another byte order");
  if ((flags & ~(kFileIds | kLargeLabels)) != 0 || batches > in.left() / kWord) {
    return bad("the table's header is damaged");
  }
  ArrowTable table;
  table.has_file_ids = (flags & kFileIds) != 0;
  table.large_labels = (flags & kLargeLabels) != 0;
  table.file_count = files;
  Result<SideTable> file_rows = decode_side(in, TablePart::Files, "files");
  if (!file_rows) return std::unexpected(std::move(file_rows.error()));
  Result<SideTable> tiers = decode_side(in, TablePart::Tiers, "tiers");
  if (!tiers) return std::unexpected(std::move(tiers.error()));
  if (static_cast<std::size_t>(file_rows->rows) != table.file_count) {
    return bad("the files table does not hold one row per file");
  }
  table.files = std::move(*file_rows);
  table.tiers = std::move(*tiers);
  table.batches.reserve(batches);
  for (std::size_t i = 0; i < batches; ++i) {
    Result<TableBatch> batch = decode_batch(in, i, table);
    if (!batch) return std::unexpected(std::move(batch.error()));
    table.batches.push_back(std::move(*batch));
  }
  if (in.left() != 0) {
    return bad(std::to_string(in.left()) + " bytes after the table's last batch");
  }
  return table;
}

}  // namespace textgrid
