// Reading any producer's Arrow C stream (pyarrow, polars, DuckDB, a plinth
// table) into plain columns: the columns a caller names, by name, in the
// Arrow types those producers emit for them; other columns are passed over.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arrow/arrow_abi.hpp"
#include "base/error.hpp"
#include "model/converter.hpp"

namespace textgrid {

enum class ColumnType {
  Integer,  // any signed or unsigned integer type
  Number,   // float64 or float32
  Boolean,  // bool
  Text,     // utf8, large_utf8, string_view, or a dictionary of one of them
};

struct ColumnSpec {
  std::string_view name;
  ColumnType type = ColumnType::Number;
  bool nullable = false;  // else a null in the column is an error
  bool optional = false;  // a missing column is left empty instead of refused
};

// One imported column, in the vector of its type. A uint64 above the int64
// range is kept as the largest int64 (no position is that large anyway).
struct ImportedColumn {
  std::vector<std::int64_t> integers;
  std::vector<double> numbers;
  std::vector<Flag> flags;
  std::vector<std::string_view> texts;  // views into the table's kept batches
  std::vector<Flag> present;            // nullable columns only: 1 per row that is not null
};

// The batches a table's texts view, kept until the table goes; released on
// the thread that destroys it (a producer's release needs no other).
struct KeptBatches {
  std::vector<ArrowArray> batches;
  KeptBatches() = default;
  KeptBatches(const KeptBatches&) = delete;
  KeptBatches& operator=(const KeptBatches&) = delete;
  ~KeptBatches();
};

struct ImportedTable {
  std::vector<ImportedColumn> columns;
  std::unique_ptr<KeptBatches> kept = std::make_unique<KeptBatches>();
};

// Takes over `stream` (released on every way out) and reads every batch on
// the calling thread (a producer may need it), returning the `specs` columns
// in their order; the texts are not copied. Fails (InvalidInput) with a message that begins with
// `table` and names the column: a missing column, a type that does not fit,
// a null where none may be, or the producer's own error. Allocates.
Result<ImportedTable> import_columns(ArrowArrayStream* stream, std::string_view table,
                                     std::span<const ColumnSpec> specs);

}  // namespace textgrid
